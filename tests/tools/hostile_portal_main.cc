// hostile-portal: the tests' hostile portal server as a program of its own,
// so that the Windows program under Wine can be tried against it exactly as
// the Linux program is in-process.
//
//   hostile-portal MODE FILE_TO_ASK_FOR PORT_FILE RECORD_FILE
//
// MODE is another-file, named-file or clear-password (see
// tests/support/hostile_portal.h). It writes its port to PORT_FILE, serves
// until standard input closes, then writes every byte the clients sent
// (login packets and file contents included) to RECORD_FILE.
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "tests/support/hostile_portal.h"

int main(int argc, char** argv) {
  using agent::testing::HostilePortal;
  if (argc != 5) {
    std::cerr << "usage: hostile-portal MODE FILE_TO_ASK_FOR PORT_FILE RECORD_FILE\n";
    return 2;
  }
  const std::map<std::string, HostilePortal::Mode> modes = {
      {"another-file", HostilePortal::Mode::AskForAnotherFile},
      {"named-file", HostilePortal::Mode::AskForNamedFile},
      {"clear-password", HostilePortal::Mode::ClearPasswordSwitch}};
  const auto m = modes.find(argv[1]);
  if (m == modes.end()) {
    std::cerr << "hostile-portal: unknown mode " << argv[1] << "\n";
    return 2;
  }
  HostilePortal portal(m->second, argv[2]);
  std::ofstream(argv[3]) << portal.port() << "\n";
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  std::ofstream record(argv[4], std::ios::binary);
  record << portal.received() << portal.fileBytes();
  for (const std::string& asked : portal.filesAskedFor()) record << "\nASKED " << asked;
  return 0;
}

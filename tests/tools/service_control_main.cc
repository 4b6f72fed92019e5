// service-control.exe: sends a Windows service a control the Wine tests need
// and Wine's own sc.exe lacks (pause, continue), and waits up to ten seconds
// for the state it leads to.
//
//   service-control.exe pause|continue <service name>
//
// Exit status 0 when the service reached PAUSED or RUNNING, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fputs("usage: service-control.exe pause|continue <service name>\n", stderr);
    return 2;
  }
  const bool pause = std::wcscmp(argv[1], L"pause") == 0;
  const DWORD control = pause ? SERVICE_CONTROL_PAUSE : SERVICE_CONTROL_CONTINUE;
  const DWORD wanted = pause ? SERVICE_PAUSED : SERVICE_RUNNING;
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service =
      manager == nullptr
          ? nullptr
          : OpenServiceW(manager, argv[2], SERVICE_PAUSE_CONTINUE | SERVICE_QUERY_STATUS);
  SERVICE_STATUS status{};
  bool reached = false;
  if (service != nullptr && ControlService(service, control, &status)) {
    for (int i = 0; i < 100 && !(reached = status.dwCurrentState == wanted); ++i) {
      Sleep(100);
      if (!QueryServiceStatus(service, &status)) break;
    }
  } else {
    std::fprintf(stderr, "service-control: error %lu\n", GetLastError());
  }
  if (service != nullptr) CloseServiceHandle(service);
  if (manager != nullptr) CloseServiceHandle(manager);
  return reached ? 0 : 1;
}

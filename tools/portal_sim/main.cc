// portal-sim: plays the web portal for a demo or a test. Writes captured
// gateway payments, portal-made 'PG' receipts and portal students into the
// remote database given by a connection string.
//
//   portal-sim --connect "DRIVER={MySQL ODBC 3.51 Driver};SERVER=...;PORT=...;DATABASE=..."
//              [--user U --password P] [--home DIR]
//     payment --admno S00001 --amount 1200 --date "2024-03-05 10:30" --order O1 --txn T1
//     receipt --recno R1 --admno S00001 --date 2024-03-05 --total 1500
//             --line TUITION=1000 --line BUS=500 --mode T123=1500@2024-03-05
//     student --admno S00001 --name "Asha D'Souza" --degree BSC
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "config/platform_config.h"
#include "db/drivers/driver_connection.h"
#include "db/error.h"
#include "tools/portal_sim/portal_writer.h"

namespace {

using agent::AgentError;
using agent::DateTime;

std::optional<DateTime> parseDate(const std::string& text) {
  if (text.empty()) return std::nullopt;
  DateTime dt;
  int fields = std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &dt.year, &dt.month, &dt.day,
                           &dt.hour, &dt.minute, &dt.second);
  if (fields != 3 && fields != 5 && fields != 6) {
    throw AgentError(agent::error_number::kDataConversion, "not a date: " + text);
  }
  return dt;
}

std::optional<double> parseAmount(const std::string& text) {
  if (text.empty() || text == "null" || text == "NULL") return std::nullopt;
  char* end = nullptr;
  double d = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0') {
    throw AgentError(agent::error_number::kDataConversion, "not an amount: " + text);
  }
  return d;
}

// HEAD=AMOUNT
agent::PortalReceiptLine parseLine(const std::string& text) {
  auto eq = text.find('=');
  if (eq == std::string::npos) {
    throw AgentError(agent::error_number::kDataConversion, "line is HEAD=AMOUNT: " + text);
  }
  return {text.substr(0, eq), parseAmount(text.substr(eq + 1))};
}

// INSTRNO=AMOUNT@DATE
agent::PortalPaymentMode parseMode(const std::string& text) {
  auto eq = text.find('=');
  auto at = text.find('@', eq == std::string::npos ? 0 : eq);
  if (eq == std::string::npos || at == std::string::npos) {
    throw AgentError(agent::error_number::kDataConversion, "mode is INSTRNO=AMOUNT@DATE: " + text);
  }
  return {text.substr(0, eq), parseAmount(text.substr(eq + 1, at - eq - 1)),
          parseDate(text.substr(at + 1))};
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Writes portal rows (gateway payments, 'PG' receipts, students) into the remote "
      "database."};
  app.require_subcommand(1);
  std::string connect, user, password, home = ".";
  app.add_option("--connect", connect, "remote ODBC connection string")->required();
  app.add_option("--user", user, "remote user");
  app.add_option("--password", password, "remote password");
  app.add_option("--home", home, "folder whose platform.ini maps the drivers");

  std::string admNo, amount, date, orderId, transactionId, mode = "UPI", status = "captured";
  CLI::App* payment = app.add_subcommand("payment", "a captured gateway payment");
  payment->add_option("--admno", admNo, "admission number")->required();
  payment->add_option("--amount", amount, "amount paid to the institution (null for NULL)");
  payment->add_option("--date", date, "payment date: yyyy-mm-dd[ hh:mm[:ss]]");
  payment->add_option("--order", orderId, "gateway order id")->required();
  payment->add_option("--txn", transactionId, "gateway transaction id");
  payment->add_option("--mode", mode, "payment mode");
  payment->add_option("--status", status, "gateway status");

  agent::PortalReceipt receipt;
  std::string total, netTotal;
  std::vector<std::string> lines, modes;
  CLI::App* rec = app.add_subcommand("receipt", "a receipt made by the portal (pay type PG)");
  rec->add_option("--recno", receipt.recNo, "receipt number")->required();
  rec->add_option("--admno", receipt.admNo, "admission number")->required();
  rec->add_option("--date", date, "receipt date: yyyy-mm-dd[ hh:mm[:ss]]");
  rec->add_option("--degree", receipt.degree, "degree");
  rec->add_option("--exam", receipt.examNo, "exam number");
  rec->add_option("--total", total, "total");
  rec->add_option("--net", netTotal, "net total (default: the total)");
  rec->add_option("--remarks", receipt.remarks, "remarks");
  rec->add_option("--deleted", receipt.deleted, "fdeleted flag (T for a cancelled receipt)");
  rec->add_option("--line", lines, "a receipt line: HEAD=AMOUNT");
  rec->add_option("--mode", modes, "a payment mode row: INSTRNO=AMOUNT@yyyy-mm-dd");

  std::string name, degree;
  CLI::App* student = app.add_subcommand("student", "a student row of the portal");
  student->add_option("--admno", admNo, "admission number")->required();
  student->add_option("--name", name, "name");
  student->add_option("--degree", degree, "degree");
  CLI11_PARSE(app, argc, argv);

  try {
    agent::PlatformConfig config = agent::PlatformConfig::load(home);
    agent::DriverConnection remote(config.drivers);
    remote.open(connect, user, password);
    agent::PortalWriter portal(remote);
    if (*payment) {
      portal.addPayment(
          {admNo, parseAmount(amount), parseDate(date), orderId, transactionId, mode, status});
      std::printf("portal-sim: payment %s of %s captured\n", orderId.c_str(), admNo.c_str());
    } else if (*rec) {
      receipt.date = parseDate(date);
      receipt.total = parseAmount(total);
      receipt.netTotal = netTotal.empty() ? receipt.total : parseAmount(netTotal);
      for (const std::string& line : lines) receipt.lines.push_back(parseLine(line));
      for (const std::string& m : modes) receipt.modes.push_back(parseMode(m));
      portal.addReceipt(receipt);
      std::printf("portal-sim: receipt %s of %s made\n", receipt.recNo.c_str(),
                  receipt.admNo.c_str());
    } else if (*student) {
      portal.addStudent(admNo, name, degree);
      std::printf("portal-sim: student %s added\n", admNo.c_str());
    }
    return 0;
  } catch (const AgentError& e) {
    std::fprintf(stderr, "portal-sim: %ld %s\n", e.number(), e.description().c_str());
    return 1;
  }
}

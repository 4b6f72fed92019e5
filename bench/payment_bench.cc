// Memory of the payment posting stage against the number of pending
// payments: a portal on the test MariaDB server holding --pending captured
// payments of students the office does not know (each left pending with
// its warning, so every run meets the same rows) and --bookable payments
// of students with fee rows spread among them by date (booked and marked),
// a local office in the embedded engine, and one run of the stage. The
// stage reads the pending rows a batch at a time, so the process's peak
// resident memory should not grow with --pending:
//
//   scripts/test-env.sh /usr/bin/time -v build/bin/payment_bench --pending 300000
//   scripts/test-env.sh /usr/bin/time -v build/bin/payment_bench --pending 0
//
// (--bookable defaults to 200). The rows are made on the server itself, so
// the program holds none of them while it makes them.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "payments/payment_posting.h"
#include "tests/payments/payment_world.h"

namespace {

using agent::testing::PaymentWorld;
using agent::testing::StageRun;

long argument(int argc, char** argv, const char* name, long fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], name) == 0) return std::atol(argv[i + 1]);
  }
  return fallback;
}

// count captured payments of students named prefix1..prefixN, one every
// spacing seconds from 5 March 2024, made by the server from a sequence.
void capture(PaymentWorld& world, const char* prefix, long count, long spacing) {
  if (count <= 0) return;
  const std::string n = std::to_string(count);
  world.remote().execute(
      "insert into rzp_paymentgateway(fadmno, famtpaidtoinst, fdate, forderid, ftransactionid, "
      "fmodeofpayment, fstatus) select concat('" +
      std::string(prefix) + "', seq), 100 + seq % 900, timestamp('2024-03-05') + interval seq * " +
      std::to_string(spacing) + " second, concat('ORD-" + prefix +
      "', seq), concat('TXN-', seq), " + "'UPI', 'captured' from seq_1_to_" + n);
}

}  // namespace

int main(int argc, char** argv) {
  const long pending = argument(argc, argv, "--pending", 300000);
  const long bookable = argument(argc, argv, "--bookable", 200);
  PaymentWorld world("paybench");
  world.local().execute("BEGIN TRAN");
  for (long i = 1; i <= bookable; ++i) {
    const std::string admNo = "B" + std::to_string(i);
    world.office.addStudent(admNo, "Student " + std::to_string(i), {1000});
  }
  world.local().execute("COMMIT");
  capture(world, "U", pending, 1);
  capture(world, "B", bookable, bookable > 0 ? std::max(1L, pending / bookable) : 1);

  const auto start = std::chrono::steady_clock::now();
  std::size_t booked = 0;
  {
    StageRun run(world);
    booked = agent::postGatewayPayments(run.context());
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const std::string left =
      world.remoteScalar("select count(*) from rzp_paymentgateway where fdownloaddate is null");
  std::printf("pending %ld, bookable %ld: booked %zu, left pending %s, %zu warnings, %.1f s\n",
              pending, bookable, booked, left.c_str(), world.journal.warningCount(), seconds);
  return booked == static_cast<std::size_t>(bookable) && left == std::to_string(pending) ? 0 : 1;
}

// The stage procedures of the plain table mirrors, in cycle order. Each
// runs its group's MirrorDescription through MirrorTable and returns the rows it
// exported.
#ifndef AGENT_UPLOAD_TABLE_STAGES_H_
#define AGENT_UPLOAD_TABLE_STAGES_H_

#include <cstddef>
#include <memory>
#include <string>

#include "cycle/cycle_context.h"
#include "cycle/early_part.h"
#include "cycle/local_ahead.h"

namespace agent {

// Academic masters (upload/masters.cc).
std::size_t uploadColleges(CycleContext& ctx);
std::size_t uploadDegrees(CycleContext& ctx);
std::size_t uploadSubjects(CycleContext& ctx);
std::size_t uploadCategories(CycleContext& ctx);
std::size_t uploadFeeHeads(CycleContext& ctx);
std::size_t uploadRoutes(CycleContext& ctx);

// Students and their portal logins, one pass over the students
// (upload/students.cc). Returns the most lines one of the two tables sent.
std::size_t uploadStudentsAndLogins(CycleContext& ctx);

// Results and subject marks (upload/results.cc).
std::size_t uploadResults(CycleContext& ctx);
std::size_t uploadSubjectMarks(CycleContext& ctx);

// Fee balances per student and fee head, with late-fine rows and the
// removal of remote rows no longer held locally (upload/fee_balances.cc).
// computeFeeBalances makes the temporary tables the upload reads.
// makeFeeBalances, which may run ahead on a second local connection with
// feeBalancesInput(), does so between two fingerprints of the rows they are
// made from, or only takes one when it is the one studfee's change state
// vouches for (the balances would come out as stored).
void computeFeeBalances(Connection& local, const std::string& univCode);
AheadSources makeFeeBalances(Connection& local, const AheadInput& input);
AheadInput feeBalancesInput(const CycleContext& ctx);
std::size_t uploadFeeBalances(CycleContext& ctx);

// Receipt headers, lines and payment modes, one pass over the receipts
// (upload/receipts.cc). Returns the most lines one of the three tables
// sent (the receipt lines read, without change detection). gatherReceiptRows
// makes the temporary table the upload reads; it may run ahead on a second
// local connection with receiptRowsInput(), and then, with change detection
// on, leaves it out when the fingerprint of the rows it is made from is the
// one the tables' states were written from (as makeFeeBalances does).
AheadSources gatherReceiptRows(Connection& local, const AheadInput& input);
AheadInput receiptRowsInput(const CycleContext& ctx);
std::size_t uploadReceipts(CycleContext& ctx);
// The receipts' reading and files, done before their turn (their remote
// statements are then all uploadReceipts() sends).
std::unique_ptr<EarlyPart> exportReceiptsEarly(CycleContext& ctx);

// Staff and hostels (upload/staff_hostels.cc).
std::size_t uploadEmployees(CycleContext& ctx);
std::size_t uploadHostels(CycleContext& ctx);
std::size_t uploadRoomTypes(CycleContext& ctx);
std::size_t uploadRooms(CycleContext& ctx);

// Sent text messages not uploaded before, then marked uploaded locally
// (upload/smslog.cc).
std::size_t uploadSmsLog(CycleContext& ctx);

}  // namespace agent

#endif  // AGENT_UPLOAD_TABLE_STAGES_H_

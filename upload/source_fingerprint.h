// SourceFingerprint: a digest of the local rows a computed table (fee
// balances, for one) is made from, taken by the local server (one statement
// per table). When it is the one the table's change state was made from, a
// changes-only run would find every line as stored: it need neither make
// the table nor read it.
//
// Per table it holds the row count and a sum of 36 bits of each row's
// SHA-256 over the columns named (a sum, unlike an exclusive or, does not
// let two equal rows cancel out; a changed row goes unseen with odds of 1
// in 2^36), each NULL told apart from every value; then the local server's
// date, which computed values such as late fines depend on. A server
// without HASHBYTES('SHA2_256', ...) gives NULL sums: the fingerprint is
// then empty and vouches for nothing.
#ifndef AGENT_UPLOAD_SOURCE_FINGERPRINT_H_
#define AGENT_UPLOAD_SOURCE_FINGERPRINT_H_

#include <span>
#include <string>

#include "cycle/cycle_context.h"
#include "cycle/local_ahead.h"
#include "db/connection.h"

namespace agent {

enum class FingerprintKind { Text, Number, Date };

struct FingerprintColumn {
  const char* name;
  FingerprintKind kind;
};

struct FingerprintTable {
  const char* name;
  std::span<const FingerprintColumn> columns;
};

// The fingerprint of tables' rows now, one part after the other (the
// tables in the order given, those most likely to change first, then the
// date). Given known, the fingerprint taken before (not empty), it stops at
// the first part that differs from known's and returns empty: a fingerprint
// taken only as far as that could vouch for nothing, and the rest would be
// taken for nothing. Empty also when the server cannot take it.
std::string sourceFingerprint(Connection& local, std::span<const FingerprintTable> tables,
                              const std::string& known = "");

// The fingerprint that holds for rows read between two fingerprints, taken
// before and after: the first when both agree, else none.
inline std::string steadyFingerprint(const std::string& before, const std::string& after) {
  return before == after ? before : std::string();
}

// The input of work ahead that makes table's source: with change detection
// on, fingerprints are taken, and the one table's finished state holds is
// vouched for.
AheadInput computedSourceInput(const CycleContext& ctx, const std::string& table);

}  // namespace agent

#endif  // AGENT_UPLOAD_SOURCE_FINGERPRINT_H_

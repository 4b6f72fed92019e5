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

// A table the cycle computes from other local rows: the rows it is made
// from, and how it is made on a local connection.
struct ComputedSource {
  std::span<const FingerprintTable> tables;
  void (*make)(Connection& local, const AheadInput& input);
};

// Makes source on local (work ahead, or the same work in order). With
// fingerprints asked for, it is made with the fingerprint of the rows it is
// made from (input.label its first part), or only the fingerprint is taken
// when it is input.vouched (the source would come out as the state holds
// it: the result reports it skipped). Both are taken in one snapshot
// transaction where the server allows one; elsewhere a whole fingerprint is
// taken before the source is made and one after, and the first holds only
// when both agree. A fingerprint that stopped at a changed part vouches for
// nothing: the next cycle takes it whole.
AheadSources makeComputedSource(Connection& local, const ComputedSource& source,
                                const AheadInput& input);

// The source made now whatever input.vouched says, for a run that must read
// it after the work left it out (a full merge, a remote table that
// changed): returns the fingerprint that then holds.
std::string makeSkippedSource(Connection& local, const ComputedSource& source, AheadInput input);

// The input of work ahead that makes table's source: with change detection
// on, fingerprints are taken, and the one table's finished state holds is
// vouched for. The input's label is label with the regional settings the
// lines are written with.
AheadInput computedSourceInput(const CycleContext& ctx, const std::string& table,
                               const std::string& label);

}  // namespace agent

#endif  // AGENT_UPLOAD_SOURCE_FINGERPRINT_H_

#include "cycle/statement_watch.h"

namespace agent {

std::string statementHead(const std::string& sql) {
  constexpr int kMaxWords = 5;
  std::string head;
  std::size_t i = 0;
  for (int words = 0; words < kMaxWords; ++words) {
    while (i < sql.size() &&
           (sql[i] == ' ' || sql[i] == '\t' || sql[i] == '\r' || sql[i] == '\n')) {
      ++i;
    }
    std::size_t end = i;
    while (end < sql.size() && sql[end] != ' ' && sql[end] != '\t' && sql[end] != '\r' &&
           sql[end] != '\n') {
      ++end;
    }
    if (end == i) break;
    std::string word = sql.substr(i, end - i);
    if (word.find_first_of("'\"=") != std::string::npos) break;
    std::size_t paren = word.find('(');
    if (paren != std::string::npos) word.resize(paren);
    if (!word.empty()) head += (head.empty() ? "" : " ") + word;
    if (paren != std::string::npos) break;
    i = end;
  }
  return head;
}

void StatementWatch::noteFailure(const std::string& side, const std::string& statement) {
  MutexLock lock(mutex_);
  failure_ = Failure{side, statement};
}

StatementWatch::Failure StatementWatch::failure() const {
  MutexLock lock(mutex_);
  return failure_;
}

void StatementWatch::clearFailure() {
  MutexLock lock(mutex_);
  failure_ = Failure{};
}

void StatementWatch::noteLeftoverDropped(const std::string& name) {
  MutexLock lock(mutex_);
  ++leftoversDropped_[name];
}

std::map<std::string, int> StatementWatch::leftoversDropped() const {
  MutexLock lock(mutex_);
  return leftoversDropped_;
}

}  // namespace agent

#include "db/embedded/tsql_parser.h"

#include <utility>

#include <algorithm>
#include <cstdlib>

#include "base/text.h"
#include "db/embedded/engine_errors.h"
#include "db/embedded/tsql_tokenizer.h"

namespace agent::tsql {

namespace {

constexpr const char* kReserved[] = {"ADD",
                                     "ALL",
                                     "ALTER",
                                     "AND",
                                     "ANY",
                                     "AS",
                                     "ASC",
                                     "BEGIN",
                                     "BETWEEN",
                                     "BY",
                                     "CASE",
                                     "CHECK",
                                     "COLUMN",
                                     "COMMIT",
                                     "CONSTRAINT",
                                     "CONVERT",
                                     "CREATE",
                                     "CROSS",
                                     "CURRENT_TIMESTAMP",
                                     "DATABASE",
                                     "DECLARE",
                                     "DEFAULT",
                                     "DELETE",
                                     "DESC",
                                     "DISTINCT",
                                     "DROP",
                                     "ELSE",
                                     "END",
                                     "EXEC",
                                     "EXECUTE",
                                     "EXISTS",
                                     "FOREIGN",
                                     "FROM",
                                     "FULL",
                                     "GO",
                                     "GOTO",
                                     "GROUP",
                                     "HAVING",
                                     "IDENTITY",
                                     "IF",
                                     "IN",
                                     "INDEX",
                                     "INNER",
                                     "INSERT",
                                     "INTO",
                                     "IS",
                                     "JOIN",
                                     "KEY",
                                     "LEFT",
                                     "LIKE",
                                     "NOT",
                                     "NULL",
                                     "OF",
                                     "ON",
                                     "OR",
                                     "ORDER",
                                     "OUTER",
                                     "PERCENT",
                                     "PRIMARY",
                                     "PRINT",
                                     "REFERENCES",
                                     "RETURN",
                                     "RIGHT",
                                     "ROLLBACK",
                                     "SELECT",
                                     "SET",
                                     "TABLE",
                                     "THEN",
                                     "TOP",
                                     "TRAN",
                                     "TRANSACTION",
                                     "UNION",
                                     "UNIQUE",
                                     "UPDATE",
                                     "USE",
                                     "VALUES",
                                     "VIEW",
                                     "WHEN",
                                     "WHERE",
                                     "WHILE",
                                     "WITH"};

// Functions whose first argument is a datepart word (day, d, dd...).
constexpr const char* kDatePartFunctions[] = {"DATEDIFF", "DATEADD", "DATEPART", "DATENAME"};

// SET options the engine accepts and ignores: they change nothing it does.
constexpr const char* kIgnoredSetOptions[] = {"NOCOUNT",
                                              "ANSI_NULLS",
                                              "ANSI_PADDING",
                                              "ANSI_WARNINGS",
                                              "ARITHABORT",
                                              "XACT_ABORT",
                                              "CONCAT_NULL_YIELDS_NULL",
                                              "ANSI_NULL_DFLT_ON",
                                              "NUMERIC_ROUNDABORT",
                                              "IMPLICIT_TRANSACTIONS"};

class Parser {
 public:
  Parser(std::vector<Token> tokens) : t_(std::move(tokens)) {}

  bool atEnd() const { return peek().kind == Token::Kind::End; }
  std::size_t endOffset() const { return pos_ > 0 ? t_[pos_ - 1].end : 0; }

  Statement statement();
  // Whether a table hint of the statement just parsed asks for locks held
  // to the end of the transaction; cleared for the next statement.
  bool takeLockingHint() { return std::exchange(lockingHint_, false); }
  void skipSemicolons() {
    while (peek().isSymbol(";")) ++pos_;
  }
  // After a statement: the next token must start a statement or end the batch.
  void expectStatementBoundary() {
    skipSemicolons();
    if (atEnd()) return;
    static const char* kStarts[] = {"SELECT", "INSERT", "UPDATE", "DELETE",   "CREATE", "DROP",
                                    "SET",    "BEGIN",  "COMMIT", "ROLLBACK", "USE"};
    for (const char* s : kStarts) {
      if (peek().isWord(s)) return;
    }
    fail();
  }

 private:
  const Token& peek(std::size_t ahead = 0) const {
    std::size_t i = std::min(pos_ + ahead, t_.size() - 1);
    return t_[i];
  }
  const Token& next() {
    const Token& t = t_[pos_];
    if (pos_ + 1 < t_.size()) ++pos_;
    return t;
  }
  bool accept(std::string_view word) {
    if (peek().isWord(word)) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool acceptSymbol(std::string_view symbol) {
    if (peek().isSymbol(symbol)) {
      ++pos_;
      return true;
    }
    return false;
  }
  void expect(std::string_view word) {
    if (!accept(word)) fail();
  }
  void expectSymbol(std::string_view symbol) {
    if (!acceptSymbol(symbol)) fail();
  }

  // The syntax error SQL Server gives at the current token.
  [[noreturn]] void fail() const {
    const Token& t = peek();
    if (t.kind == Token::Kind::End) {
      throw syntaxErrorNear(pos_ > 0 ? t_[pos_ - 1].text : std::string());
    }
    if (t.kind == Token::Kind::Word && isReservedWord(t.text)) throw syntaxErrorNearKeyword(t.text);
    throw syntaxErrorNear(t.text);
  }

  bool isName(const Token& t) const {
    return t.kind == Token::Kind::QuotedName ||
           (t.kind == Token::Kind::Word && !isReservedWord(t.text) && t.text[0] != '@');
  }
  std::string name() {
    if (!isName(peek())) fail();
    return next().text;
  }
  // [db.][schema.]name: the last part is the object's name.
  std::string objectName() {
    std::string n = name();
    while (peek().isSymbol(".")) {
      ++pos_;
      while (peek().isSymbol(".")) ++pos_;  // db..name
      n = name();
    }
    return n;
  }

  SqlType typeName();
  ExprPtr expr() { return orExpr(); }
  ExprPtr orExpr();
  ExprPtr andExpr();
  ExprPtr notExpr();
  ExprPtr comparison();
  ExprPtr additive();
  ExprPtr multiplicative();
  ExprPtr unary();
  ExprPtr primary();
  ExprPtr functionCall(std::string name);
  ExprPtr caseExpr();
  std::unique_ptr<SelectStmt> select(bool allowInto);
  std::unique_ptr<SelectStmt> selectCore(bool allowInto);
  std::vector<TableRef> tableRefs();
  TableRef tableFactor();
  std::string optionalAlias();
  void skipBalancedParens();
  void skipTableOptions();

  Statement createStatement();
  Statement dropStatement();
  Statement setStatement();
  Statement insertStatement();
  Statement updateStatement();
  Statement deleteStatement();
  void columnDefinition(Statement* st);
  bool tableConstraint(Statement* st);
  std::vector<std::string> columnList();

  std::vector<Token> t_;
  std::size_t pos_ = 0;
  bool lockingHint_ = false;
};

ExprPtr makeExpr(Expr::Kind kind, std::string text = {}) {
  auto e = std::make_unique<Expr>();
  e->kind = kind;
  e->text = std::move(text);
  return e;
}

ExprPtr makeBinary(std::string op, ExprPtr a, ExprPtr b) {
  auto e = makeExpr(Expr::Kind::Binary, std::move(op));
  e->args.push_back(std::move(a));
  e->args.push_back(std::move(b));
  return e;
}

SqlType Parser::typeName() {
  std::string n = name();
  int args[2] = {0, 0};
  int count = 0;
  if (acceptSymbol("(")) {
    do {
      if (peek().isWord("MAX")) {
        ++pos_;
        args[count < 2 ? count : 1] = 0;
      } else if (peek().kind == Token::Kind::Number) {
        args[count < 2 ? count : 1] = std::atoi(next().text.c_str());
      } else {
        fail();
      }
      ++count;
    } while (acceptSymbol(","));
    expectSymbol(")");
  }
  SqlType type;
  if (!SqlType::fromTsql(n, args[0], args[1], count, &type)) {
    throw DbError("42000", 2715,
                  "Column, parameter, or variable #1: Cannot find data type " + n + ".");
  }
  return type;
}

ExprPtr Parser::orExpr() {
  ExprPtr e = andExpr();
  while (accept("OR")) e = makeBinary("OR", std::move(e), andExpr());
  return e;
}

ExprPtr Parser::andExpr() {
  ExprPtr e = notExpr();
  while (accept("AND")) e = makeBinary("AND", std::move(e), notExpr());
  return e;
}

ExprPtr Parser::notExpr() {
  if (accept("NOT")) {
    auto e = makeExpr(Expr::Kind::Unary, "NOT");
    e->args.push_back(notExpr());
    return e;
  }
  return comparison();
}

ExprPtr Parser::comparison() {
  if (peek().isWord("EXISTS")) {
    ++pos_;
    expectSymbol("(");
    auto e = makeExpr(Expr::Kind::Exists);
    e->select = select(false);
    expectSymbol(")");
    return e;
  }
  ExprPtr left = additive();
  static const char* kOps[] = {"=", "<>", "!=", "<", ">", "<=", ">=", "!<", "!>"};
  for (const char* op : kOps) {
    if (peek().isSymbol(op)) {
      ++pos_;
      std::string o = op;
      if (o == "!=") o = "<>";
      if (o == "!<") o = ">=";
      if (o == "!>") o = "<=";
      return makeBinary(o, std::move(left), additive());
    }
  }
  if (accept("IS")) {
    auto e = makeExpr(Expr::Kind::IsNull);
    e->negated = accept("NOT");
    expect("NULL");
    e->args.push_back(std::move(left));
    return e;
  }
  bool negated = false;
  if (peek().isWord("NOT") &&
      (peek(1).isWord("IN") || peek(1).isWord("LIKE") || peek(1).isWord("BETWEEN"))) {
    ++pos_;
    negated = true;
  }
  if (accept("LIKE")) {
    auto e = makeBinary("LIKE", std::move(left), additive());
    e->negated = negated;
    return e;
  }
  if (accept("BETWEEN")) {
    auto e = makeExpr(Expr::Kind::Between);
    e->negated = negated;
    e->args.push_back(std::move(left));
    e->args.push_back(additive());
    expect("AND");
    e->args.push_back(additive());
    return e;
  }
  if (accept("IN")) {
    expectSymbol("(");
    ExprPtr e;
    if (peek().isWord("SELECT")) {
      e = makeExpr(Expr::Kind::InSelect);
      e->args.push_back(std::move(left));
      e->select = select(false);
    } else {
      e = makeExpr(Expr::Kind::InList);
      e->args.push_back(std::move(left));
      do {
        e->args.push_back(expr());
      } while (acceptSymbol(","));
    }
    expectSymbol(")");
    e->negated = negated;
    return e;
  }
  if (negated) fail();
  return left;
}

ExprPtr Parser::additive() {
  ExprPtr e = multiplicative();
  for (;;) {
    const Token& t = peek();
    if (t.isSymbol("+") || t.isSymbol("-") || t.isSymbol("&") || t.isSymbol("|") ||
        t.isSymbol("^")) {
      std::string op = next().text;
      e = makeBinary(op, std::move(e), multiplicative());
    } else {
      return e;
    }
  }
}

ExprPtr Parser::multiplicative() {
  ExprPtr e = unary();
  for (;;) {
    const Token& t = peek();
    if (t.isSymbol("*") || t.isSymbol("/") || t.isSymbol("%")) {
      std::string op = next().text;
      e = makeBinary(op, std::move(e), unary());
    } else {
      return e;
    }
  }
}

ExprPtr Parser::unary() {
  if (peek().isSymbol("-") || peek().isSymbol("+") || peek().isSymbol("~")) {
    std::string op = next().text;
    if (op == "-" && peek().kind == Token::Kind::Number) {
      return makeExpr(Expr::Kind::Number, "-" + next().text);
    }
    auto e = makeExpr(Expr::Kind::Unary, op);
    e->args.push_back(unary());
    return e;
  }
  return primary();
}

ExprPtr Parser::caseExpr() {
  auto e = makeExpr(Expr::Kind::Case);
  if (!peek().isWord("WHEN")) e->operand = expr();
  if (!peek().isWord("WHEN")) fail();
  while (accept("WHEN")) {
    e->args.push_back(expr());
    expect("THEN");
    e->args.push_back(expr());
  }
  if (accept("ELSE")) e->elseExpr = expr();
  expect("END");
  return e;
}

ExprPtr Parser::functionCall(std::string fname) {
  std::string upper = toUpperAscii(fname);
  auto e = makeExpr(Expr::Kind::Function, upper);
  expectSymbol("(");
  if (upper == "CONVERT") {
    e->kind = Expr::Kind::Convert;
    e->type = typeName();
    expectSymbol(",");
    e->args.push_back(expr());
    if (acceptSymbol(",")) e->args.push_back(expr());
    expectSymbol(")");
    return e;
  }
  if (upper == "CAST") {
    e->kind = Expr::Kind::Convert;
    e->args.push_back(expr());
    expect("AS");
    e->type = typeName();
    expectSymbol(")");
    return e;
  }
  for (const char* f : kDatePartFunctions) {
    if (upper == f) {
      if (peek().kind != Token::Kind::Word) fail();
      e->args.push_back(makeExpr(Expr::Kind::DatePart, toUpperAscii(next().text)));
      if (!peek().isSymbol(")")) expectSymbol(",");
    }
  }
  if (acceptSymbol(")")) return e;
  if (peek().isSymbol("*")) {
    ++pos_;
    e->star = true;
    expectSymbol(")");
    return e;
  }
  if (accept("DISTINCT"))
    e->distinct = true;
  else
    accept("ALL");
  do {
    e->args.push_back(expr());
  } while (acceptSymbol(","));
  expectSymbol(")");
  return e;
}

ExprPtr Parser::primary() {
  const Token& t = peek();
  switch (t.kind) {
    case Token::Kind::String:
      return makeExpr(Expr::Kind::String, next().text);
    case Token::Kind::Number:
      return makeExpr(Expr::Kind::Number, next().text);
    case Token::Kind::Symbol:
      if (t.isSymbol("(")) {
        ++pos_;
        if (peek().isWord("SELECT")) {
          auto e = makeExpr(Expr::Kind::Subquery);
          e->select = select(false);
          expectSymbol(")");
          return e;
        }
        ExprPtr e = expr();
        expectSymbol(")");
        return e;
      }
      if (t.isSymbol("*")) {
        ++pos_;
        return makeExpr(Expr::Kind::Star);
      }
      fail();
    case Token::Kind::Word:
      if (t.isWord("NULL")) {
        ++pos_;
        return makeExpr(Expr::Kind::Null);
      }
      if (t.isWord("CASE")) {
        ++pos_;
        return caseExpr();
      }
      if (t.isWord("CURRENT_TIMESTAMP")) {
        ++pos_;
        return makeExpr(Expr::Kind::Function, "GETDATE");
      }
      if ((t.isWord("CONVERT") || t.isWord("LEFT") || t.isWord("RIGHT")) && peek(1).isSymbol("(")) {
        return functionCall(next().text);
      }
      if (isReservedWord(t.text) || t.text[0] == '@') fail();
      [[fallthrough]];
    case Token::Kind::QuotedName: {
      bool quoted = t.kind == Token::Kind::QuotedName;
      std::string first = next().text;
      if (!quoted && peek().isSymbol("(")) return functionCall(first);
      std::vector<std::string> parts{first};
      while (peek().isSymbol(".")) {
        ++pos_;
        if (peek().isSymbol("*")) {
          ++pos_;
          auto e = makeExpr(Expr::Kind::Star);
          e->qualifier = parts.back();
          return e;
        }
        parts.push_back(name());
      }
      auto e = makeExpr(Expr::Kind::Column, parts.back());
      if (parts.size() > 1) e->qualifier = parts[parts.size() - 2];
      return e;
    }
    case Token::Kind::End:
      break;
  }
  fail();
}

std::string Parser::optionalAlias() {
  if (accept("AS")) {
    if (peek().kind == Token::Kind::String) return next().text;
    return name();
  }
  if (isName(peek())) return next().text;
  return {};
}

void Parser::skipBalancedParens() {
  expectSymbol("(");
  int depth = 1;
  while (depth > 0) {
    if (atEnd()) fail();
    const Token& t = next();
    if (t.isSymbol("(")) ++depth;
    if (t.isSymbol(")")) --depth;
  }
}

TableRef Parser::tableFactor() {
  TableRef ref;
  if (acceptSymbol("(")) {
    if (!peek().isWord("SELECT")) fail();
    ref.derived = select(false);
    expectSymbol(")");
    ref.alias = optionalAlias();
    if (ref.alias.empty()) fail();
    return ref;
  }
  ref.name = objectName();
  ref.alias = optionalAlias();
  // Table hints such as WITH (NOLOCK) change nothing here, except that a
  // locking one marks the statement (see Statement::lockingRead).
  if (peek().isWord("WITH") && peek(1).isSymbol("(")) {
    ++pos_;
    const std::size_t start = pos_;
    skipBalancedParens();
    for (std::size_t i = start; i < pos_; ++i) {
      for (const char* hint : {"UPDLOCK", "HOLDLOCK", "XLOCK", "TABLOCKX", "SERIALIZABLE"}) {
        if (t_[i].isWord(hint)) lockingHint_ = true;
      }
    }
  }
  return ref;
}

std::vector<TableRef> Parser::tableRefs() {
  std::vector<TableRef> refs;
  refs.push_back(tableFactor());
  for (;;) {
    TableRef::Join join;
    if (acceptSymbol(",")) {
      join = TableRef::Join::Comma;
    } else if (accept("CROSS")) {
      expect("JOIN");
      join = TableRef::Join::Cross;
    } else if (accept("INNER")) {
      expect("JOIN");
      join = TableRef::Join::Inner;
    } else if (accept("JOIN")) {
      join = TableRef::Join::Inner;
    } else if (peek().isWord("LEFT") || peek().isWord("RIGHT") || peek().isWord("FULL")) {
      std::string side = toUpperAscii(next().text);
      accept("OUTER");
      expect("JOIN");
      join = side == "LEFT"    ? TableRef::Join::Left
             : side == "RIGHT" ? TableRef::Join::Right
                               : TableRef::Join::Full;
    } else {
      return refs;
    }
    TableRef ref = tableFactor();
    ref.join = join;
    if (join != TableRef::Join::Comma && join != TableRef::Join::Cross) {
      expect("ON");
      ref.on = expr();
    }
    refs.push_back(std::move(ref));
  }
}

std::unique_ptr<SelectStmt> Parser::selectCore(bool allowInto) {
  expect("SELECT");
  auto s = std::make_unique<SelectStmt>();
  if (accept("DISTINCT"))
    s->distinct = true;
  else
    accept("ALL");
  if (accept("TOP")) {
    if (acceptSymbol("(")) {
      s->top = expr();
      expectSymbol(")");
    } else if (peek().kind == Token::Kind::Number) {
      s->top = makeExpr(Expr::Kind::Number, next().text);
    } else {
      fail();
    }
    s->topPercent = accept("PERCENT");
  }
  do {
    SelectItem item;
    // alias = expression
    if (isName(peek()) && peek(1).isSymbol("=")) {
      item.alias = next().text;
      item.hasAlias = true;
      ++pos_;
      item.expr = expr();
    } else {
      item.expr = expr();
      if (item.expr->kind == Expr::Kind::Star) {
        // * takes no alias
      } else if (accept("AS")) {
        if (peek().kind == Token::Kind::String)
          item.alias = next().text;
        else
          item.alias = name();
        item.hasAlias = true;
      } else if (isName(peek()) || peek().kind == Token::Kind::String) {
        item.alias = next().text;
        item.hasAlias = true;
      }
    }
    s->items.push_back(std::move(item));
  } while (acceptSymbol(","));
  if (accept("INTO")) {
    if (!allowInto) fail();
    s->into = objectName();
  }
  if (accept("FROM")) s->from = tableRefs();
  if (accept("WHERE")) s->where = expr();
  if (accept("GROUP")) {
    expect("BY");
    do {
      s->groupBy.push_back(expr());
    } while (acceptSymbol(","));
  }
  if (accept("HAVING")) s->having = expr();
  return s;
}

std::unique_ptr<SelectStmt> Parser::select(bool allowInto) {
  auto first = selectCore(allowInto);
  SelectStmt* last = first.get();
  while (accept("UNION")) {
    last->unionAll = accept("ALL");
    last->unionNext = selectCore(false);
    last = last->unionNext.get();
  }
  if (accept("ORDER")) {
    expect("BY");
    do {
      OrderItem item;
      item.expr = expr();
      if (accept("DESC"))
        item.descending = true;
      else
        accept("ASC");
      first->orderBy.push_back(std::move(item));
    } while (acceptSymbol(","));
  }
  return first;
}

std::vector<std::string> Parser::columnList() {
  std::vector<std::string> cols;
  expectSymbol("(");
  do {
    cols.push_back(name());
    if (!accept("ASC")) accept("DESC");
  } while (acceptSymbol(","));
  expectSymbol(")");
  return cols;
}

void Parser::skipTableOptions() {
  // WITH (index options) and ON [filegroup]: storage details of SQL Server.
  for (;;) {
    if (peek().isWord("WITH") && peek(1).isSymbol("(")) {
      ++pos_;
      skipBalancedParens();
    } else if (peek().isWord("ON") || peek().isWord("TEXTIMAGE_ON")) {
      ++pos_;
      name();
    } else {
      return;
    }
  }
}

bool Parser::tableConstraint(Statement* st) {
  if (accept("CONSTRAINT")) name();
  if (accept("PRIMARY")) {
    expect("KEY");
    if (!accept("CLUSTERED")) accept("NONCLUSTERED");
    st->constraints.push_back({TableConstraint::Kind::PrimaryKey, columnList()});
    skipTableOptions();
    return true;
  }
  if (accept("UNIQUE")) {
    if (!accept("CLUSTERED")) accept("NONCLUSTERED");
    st->constraints.push_back({TableConstraint::Kind::Unique, columnList()});
    skipTableOptions();
    return true;
  }
  if (accept("FOREIGN")) {
    // Foreign keys are not enforced by the engine.
    expect("KEY");
    columnList();
    expect("REFERENCES");
    objectName();
    if (peek().isSymbol("(")) columnList();
    return true;
  }
  if (accept("CHECK")) {
    skipBalancedParens();
    return true;
  }
  return false;
}

void Parser::columnDefinition(Statement* st) {
  ColumnDef col;
  col.name = name();
  col.type = typeName();
  for (;;) {
    if (accept("NULL")) continue;
    if (accept("CONSTRAINT")) {
      name();
      continue;
    }
    if (peek().isWord("NOT") && peek(1).isWord("NULL")) {
      pos_ += 2;
      col.notNull = true;
      continue;
    }
    if (accept("PRIMARY")) {
      expect("KEY");
      if (!accept("CLUSTERED")) accept("NONCLUSTERED");
      col.primaryKey = true;
      continue;
    }
    if (accept("UNIQUE")) {
      if (!accept("CLUSTERED")) accept("NONCLUSTERED");
      col.unique = true;
      continue;
    }
    if (accept("DEFAULT")) {
      col.defaultValue = unary();
      continue;
    }
    if (accept("IDENTITY")) {
      if (peek().isSymbol("(")) skipBalancedParens();
      col.identity = true;
      continue;
    }
    if (accept("COLLATE")) {
      name();
      continue;
    }
    if (accept("REFERENCES")) {
      objectName();
      if (peek().isSymbol("(")) columnList();
      continue;
    }
    if (accept("CHECK")) {
      skipBalancedParens();
      continue;
    }
    break;
  }
  st->columnDefs.push_back(std::move(col));
}

Statement Parser::createStatement() {
  Statement st;
  if (accept("TABLE")) {
    st.kind = Statement::Kind::CreateTable;
    st.name = objectName();
    expectSymbol("(");
    do {
      if (!tableConstraint(&st)) columnDefinition(&st);
    } while (acceptSymbol(","));
    expectSymbol(")");
    skipTableOptions();
    return st;
  }
  if (accept("VIEW")) {
    st.kind = Statement::Kind::CreateView;
    st.name = objectName();
    if (peek().isSymbol("(")) st.columns = columnList();
    expect("AS");
    st.select = select(false);
    return st;
  }
  if (accept("DATABASE")) {
    st.kind = Statement::Kind::CreateDatabase;
    st.name = name();
    return st;
  }
  st.flag = accept("UNIQUE");
  if (!accept("CLUSTERED")) accept("NONCLUSTERED");
  if (accept("INDEX")) {
    st.kind = Statement::Kind::CreateIndex;
    st.name = name();
    expect("ON");
    st.tableName = objectName();
    st.columns = columnList();
    skipTableOptions();
    return st;
  }
  fail();
}

Statement Parser::dropStatement() {
  Statement st;
  if (accept("TABLE")) {
    st.kind = Statement::Kind::DropTable;
  } else if (accept("VIEW")) {
    st.kind = Statement::Kind::DropView;
  } else if (accept("INDEX")) {
    st.kind = Statement::Kind::DropIndex;
    // DROP INDEX table.index or DROP INDEX index ON table
    std::string first = name();
    if (acceptSymbol(".")) {
      st.tableName = first;
      st.name = name();
    } else {
      expect("ON");
      st.name = first;
      st.tableName = objectName();
    }
    return st;
  } else {
    fail();
  }
  do {
    st.names.push_back(objectName());
  } while (acceptSymbol(","));
  st.name = st.names.front();
  return st;
}

Statement Parser::setStatement() {
  Statement st;
  const Token& option = peek();
  if (accept("DATEFORMAT")) {
    st.kind = Statement::Kind::SetDateFormat;
    if (peek().kind != Token::Kind::Word && peek().kind != Token::Kind::String) fail();
    st.name = next().text;
    return st;
  }
  if (accept("QUOTED_IDENTIFIER")) {
    st.kind = Statement::Kind::SetQuotedIdentifier;
    if (accept("ON"))
      st.flag = true;
    else if (accept("OFF"))
      st.flag = false;
    else
      fail();
    return st;
  }
  if (accept("TRANSACTION")) {
    // Every level: a transaction of the engine reads one snapshot of the
    // database throughout (SQLite's WAL), which no level asks more than;
    // it never reads what another connection has not committed.
    st.kind = Statement::Kind::SetOption;
    st.name = "TRANSACTION ISOLATION LEVEL";
    expect("ISOLATION");
    expect("LEVEL");
    if (accept("READ")) {
      if (!accept("COMMITTED") && !accept("UNCOMMITTED")) fail();
    } else if (accept("REPEATABLE")) {
      expect("READ");
    } else if (!accept("SNAPSHOT") && !accept("SERIALIZABLE")) {
      fail();
    }
    return st;
  }
  for (const char* ignored : kIgnoredSetOptions) {
    if (option.isWord(ignored)) {
      st.kind = Statement::Kind::SetOption;
      st.name = next().text;
      if (!accept("ON") && !accept("OFF")) fail();
      return st;
    }
  }
  fail();
}

Statement Parser::insertStatement() {
  Statement st;
  st.kind = Statement::Kind::Insert;
  accept("INTO");
  st.name = objectName();
  if (peek().isSymbol("(") && !peek(1).isWord("SELECT")) st.columns = columnList();
  if (accept("VALUES")) {
    do {
      expectSymbol("(");
      std::vector<ExprPtr> row;
      do {
        row.push_back(expr());
      } while (acceptSymbol(","));
      expectSymbol(")");
      st.values.push_back(std::move(row));
    } while (acceptSymbol(","));
    return st;
  }
  if (peek().isWord("SELECT")) {
    st.select = select(false);
    return st;
  }
  if (peek().isSymbol("(") && peek(1).isWord("SELECT")) {
    ++pos_;
    st.select = select(false);
    expectSymbol(")");
    return st;
  }
  fail();
}

Statement Parser::updateStatement() {
  Statement st;
  st.kind = Statement::Kind::Update;
  st.name = objectName();
  expect("SET");
  do {
    std::string column = name();
    while (acceptSymbol(".")) column = name();  // table.column
    expectSymbol("=");
    st.assignments.emplace_back(column, expr());
  } while (acceptSymbol(","));
  if (accept("FROM")) st.from = tableRefs();
  if (accept("WHERE")) st.where = expr();
  return st;
}

Statement Parser::deleteStatement() {
  Statement st;
  st.kind = Statement::Kind::Delete;
  accept("FROM");
  st.name = objectName();
  if (accept("WHERE")) st.where = expr();
  return st;
}

Statement Parser::statement() {
  const Token& t = peek();
  if (t.isWord("SELECT")) {
    Statement st;
    st.kind = Statement::Kind::Select;
    st.select = select(true);
    return st;
  }
  if (accept("INSERT")) return insertStatement();
  if (accept("UPDATE")) return updateStatement();
  if (accept("DELETE")) return deleteStatement();
  if (accept("CREATE")) return createStatement();
  if (accept("DROP")) return dropStatement();
  if (accept("SET")) return setStatement();
  if (accept("USE")) {
    Statement st;
    st.kind = Statement::Kind::Use;
    st.name = name();
    return st;
  }
  Statement st;
  if (accept("BEGIN")) {
    if (!accept("TRAN") && !accept("TRANSACTION")) fail();
    st.kind = Statement::Kind::BeginTransaction;
  } else if (accept("COMMIT")) {
    st.kind = Statement::Kind::Commit;
    if (!accept("TRAN") && !accept("TRANSACTION")) accept("WORK");
  } else if (accept("ROLLBACK")) {
    st.kind = Statement::Kind::Rollback;
    if (!accept("TRAN") && !accept("TRANSACTION")) accept("WORK");
  } else {
    fail();
  }
  // An optional transaction name.
  if (peek().kind == Token::Kind::Word && !isReservedWord(peek().text)) ++pos_;
  return st;
}

}  // namespace

bool isReservedWord(std::string_view word) {
  for (const char* r : kReserved) {
    if (equalsIgnoreCase(word, r)) return true;
  }
  return false;
}

std::vector<Statement> parseBatch(std::string_view text, bool quotedIdentifier) {
  std::vector<Statement> statements;
  std::size_t offset = 0;
  for (;;) {
    Parser parser(tokenize(text, quotedIdentifier, offset));
    parser.skipSemicolons();
    bool changedQuoting = false;
    while (!parser.atEnd()) {
      Statement st = parser.statement();
      st.lockingRead = parser.takeLockingHint();
      parser.expectStatementBoundary();
      bool setsQuoting = st.kind == Statement::Kind::SetQuotedIdentifier;
      if (setsQuoting) {
        quotedIdentifier = st.flag;
        offset = parser.endOffset();
      }
      statements.push_back(std::move(st));
      if (setsQuoting) {
        changedQuoting = true;
        break;
      }
    }
    if (!changedQuoting) return statements;
  }
}

}  // namespace agent::tsql

// Statements: SELECT with its unions, ORDER BY and TOP; INSERT, UPDATE and
// DELETE; CREATE TABLE / VIEW / INDEX and DROP. Expressions come from the
// Emitter (tsql_expressions.cc, tsql_functions.cc).
#include "db/embedded/tsql_translator.h"

#include "base/text.h"
#include "db/embedded/engine_errors.h"
#include "db/embedded/tsql_emitter.h"

namespace agent::tsql {

SelectResult Emitter::selectCore(const SelectStmt& s, const Scope* outer,
                                 const std::vector<SqlType>* assignTo, Scope* scope) {
  scope->outer = outer;
  std::vector<const TableRef*> refs;
  for (const TableRef& r : s.from) refs.push_back(&r);
  std::string from = fromClause(refs, scope, nullptr);

  SelectResult result;
  std::vector<std::string> items;
  auto addItem = [&](Typed value, const std::string& name) {
    std::size_t index = result.columns.size();
    if (assignTo != nullptr) {
      if (index >= assignTo->size()) throw valueCountError();
      value.sql = assign(value, (*assignTo)[index]);
    }
    items.push_back(name.empty() ? value.sql : value.sql + " AS " + quoteName(name));
    result.columns.push_back({name, value.type});
  };
  for (const SelectItem& item : s.items) {
    if (item.expr->kind == Expr::Kind::Star) {
      const std::string& qualifier = item.expr->qualifier;
      bool matched = false;
      for (const ScopeTable& t : scope->tables) {
        if (!qualifier.empty() && !equalsIgnoreCase(t.ref, qualifier)) continue;
        matched = true;
        for (const ColumnInfo& c : t.columns) {
          addItem(makeTyped(quoteName(t.ref) + "." + quoteName(c.name), c.type), c.name);
        }
      }
      if (!matched) {
        if (qualifier.empty()) throw DbError("42000", 263, "Must specify table to select from.");
        throw DbError("42000", 107,
                      "The column prefix '" + qualifier +
                          "' does not match with a table name or alias name used in the query.");
      }
      continue;
    }
    Typed value = expr(*item.expr, *scope);
    std::string name = item.hasAlias                           ? item.alias
                       : item.expr->kind == Expr::Kind::Column ? item.expr->text
                                                               : std::string();
    addItem(std::move(value), name);
  }
  if (assignTo != nullptr && result.columns.size() != assignTo->size()) throw valueCountError();

  std::string sql = s.distinct ? "SELECT DISTINCT " : "SELECT ";
  for (std::size_t i = 0; i < items.size(); ++i) sql += (i ? ", " : "") + items[i];
  if (!from.empty()) sql += " FROM " + from;
  if (s.where) sql += " WHERE " + expr(*s.where, *scope).sql;
  if (!s.groupBy.empty()) {
    sql += " GROUP BY ";
    for (std::size_t i = 0; i < s.groupBy.size(); ++i) {
      sql += (i ? ", " : "") + collated(expr(*s.groupBy[i], *scope));
    }
  }
  if (s.having) sql += " HAVING " + expr(*s.having, *scope).sql;
  result.sql = std::move(sql);
  return result;
}

SelectResult Emitter::select(const SelectStmt& s, const Scope* outer,
                             const std::vector<SqlType>* assignTo) {
  Scope scope;
  SelectResult result = selectCore(s, outer, assignTo, &scope);
  for (const SelectStmt* part = &s; part->unionNext; part = part->unionNext.get()) {
    Scope partScope;
    SelectResult next = selectCore(*part->unionNext, outer, assignTo, &partScope);
    if (next.columns.size() != result.columns.size()) {
      throw DbError("42000", 205,
                    "All queries combined using a UNION, INTERSECT or EXCEPT operator must have an "
                    "equal number of expressions in their target lists.");
    }
    for (std::size_t i = 0; i < result.columns.size(); ++i) {
      result.columns[i].type = commonType(result.columns[i].type, next.columns[i].type);
    }
    result.sql += (part->unionAll ? " UNION ALL " : " UNION ") + next.sql;
  }
  bool compound = s.unionNext != nullptr;
  if (!s.orderBy.empty()) {
    result.sql += " ORDER BY ";
    for (std::size_t i = 0; i < s.orderBy.size(); ++i) {
      const Expr& e = *s.orderBy[i].expr;
      Typed term;
      const ResultColumn* alias = nullptr;
      if (e.kind == Expr::Kind::Column && e.qualifier.empty()) {
        for (const ResultColumn& c : result.columns) {
          if (equalsIgnoreCase(c.name, e.text)) alias = &c;
        }
      }
      if (alias != nullptr) {
        term = makeTyped(quoteName(alias->name), alias->type);
      } else if (e.kind == Expr::Kind::Number) {
        term = makeTyped(e.text, SqlType());
      } else if (compound) {
        throw DbError("42000", 104,
                      "ORDER BY items must appear in the select list if the statement contains a "
                      "UNION, INTERSECT or EXCEPT operator.");
      } else {
        term = expr(e, scope);
      }
      result.sql += (i ? ", " : "") + collated(term) + (s.orderBy[i].descending ? " DESC" : "");
    }
  }
  if (s.top) {
    if (s.topPercent) throw syntaxErrorNearKeyword("PERCENT");
    result.sql += " LIMIT " + expr(*s.top, Scope()).sql;
  }
  return result;
}

namespace {

DbError duplicateColumnError(const std::string& column, const std::string& table) {
  return DbError("42S21", 2705,
                 "Column names in each table must be unique. Column name '" + column +
                     "' in table '" + table + "' is specified more than once.");
}

std::string declarationOf(const SqlType& type) {
  if (!type.isKnown()) return "INT";
  std::string decl = type.declaration();
  return type.isText() ? decl + kCollate : decl;
}

void checkNames(const std::vector<ResultColumn>& columns, const std::string& table, bool view) {
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].name.empty()) {
      if (view) throw viewColumnNameError(static_cast<int>(i) + 1);
      throw missingColumnNameError();
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (equalsIgnoreCase(columns[i].name, columns[j].name)) {
        if (view) {
          throw DbError("42S21", 4506,
                        "Column names in each view or function must be unique. Column name '" +
                            columns[i].name + "' in view or function '" + table +
                            "' is specified more than once.");
        }
        throw duplicateColumnError(columns[i].name, table);
      }
    }
  }
}

std::string createTableSql(const std::string& name, const std::vector<std::string>& columns,
                           const std::vector<std::string>& constraints) {
  std::string sql = std::string("CREATE ") + (Catalog::isTemporary(name) ? "TEMP " : "") +
                    "TABLE " + quoteName(name) + " (";
  for (std::size_t i = 0; i < columns.size(); ++i) sql += (i ? ", " : "") + columns[i];
  for (const std::string& c : constraints) sql += ", " + c;
  return sql + ")";
}

std::string nameList(const std::vector<std::string>& names) {
  std::string s;
  for (std::size_t i = 0; i < names.size(); ++i) s += (i ? ", " : "") + quoteName(names[i]);
  return s;
}

const ColumnInfo* findColumn(const std::vector<ColumnInfo>& columns, const std::string& name) {
  for (const ColumnInfo& c : columns) {
    if (equalsIgnoreCase(c.name, name)) return &c;
  }
  return nullptr;
}

class StatementTranslator {
 public:
  StatementTranslator(const Catalog& catalog, DateOrder order)
      : catalog_(catalog), emit_(catalog, order) {}

  Translation select(const Statement& st) {
    const SelectStmt& s = *st.select;
    Translation t;
    if (s.into.empty()) {
      SelectResult r = emit_.select(s, nullptr, nullptr);
      t.steps.push_back(std::move(r.sql));
      t.returnsRows = true;
      t.columns = std::move(r.columns);
      return t;
    }
    if (catalog_.find(s.into) != ObjectKind::None) throw objectExistsError(s.into);
    SelectResult r = emit_.select(s, nullptr, nullptr);
    checkNames(r.columns, s.into, false);
    std::vector<std::string> columns;
    for (const ResultColumn& c : r.columns)
      columns.push_back(quoteName(c.name) + " " + declarationOf(c.type));
    t.steps.push_back(createTableSql(s.into, columns, {}));
    t.steps.push_back("INSERT INTO " + quoteName(s.into) + " " + r.sql);
    return t;
  }

  Translation insert(const Statement& st) {
    ScopeTable table = emit_.tableOf(st.name, {});
    std::vector<const ColumnInfo*> targets;
    if (st.columns.empty()) {
      for (const ColumnInfo& c : table.columns) targets.push_back(&c);
    } else {
      for (const std::string& name : st.columns) {
        const ColumnInfo* c = findColumn(table.columns, name);
        if (c == nullptr) throw invalidColumnError(name);
        targets.push_back(c);
      }
    }
    std::vector<std::string> names;
    std::vector<SqlType> types;
    for (const ColumnInfo* c : targets) {
      names.push_back(c->name);
      types.push_back(c->type);
    }
    std::string sql = "INSERT INTO " + quoteName(st.name) + " (" + nameList(names) + ") ";
    if (st.select) {
      sql += emit_.select(*st.select, nullptr, &types).sql;
    } else {
      sql += "VALUES ";
      for (std::size_t r = 0; r < st.values.size(); ++r) {
        const auto& row = st.values[r];
        if (row.size() != targets.size()) throw valueCountError();
        sql += r ? ", (" : "(";
        for (std::size_t i = 0; i < row.size(); ++i) {
          sql += (i ? ", " : "") + emit_.assign(emit_.expr(*row[i], Scope()), types[i]);
        }
        sql += ")";
      }
    }
    return single(std::move(sql));
  }

  Translation update(const Statement& st) {
    Scope scope;
    std::string target = st.name;
    std::string head;
    std::string from;
    std::vector<std::string> conditions;
    const TableRef* targetRef = nullptr;
    for (const TableRef& r : st.from) {
      bool named =
          r.alias.empty() ? equalsIgnoreCase(r.name, st.name) : equalsIgnoreCase(r.alias, st.name);
      if (named && !r.derived) targetRef = &r;
    }
    if (targetRef != nullptr) {
      // UPDATE alias SET ... FROM table alias JOIN ...: the target leaves the
      // FROM list and its joins become conditions.
      if (targetRef->join == TableRef::Join::Left || targetRef->join == TableRef::Join::Right ||
          targetRef->join == TableRef::Join::Full) {
        throw syntaxErrorNearKeyword("JOIN");
      }
      scope.tables.push_back(emit_.tableOf(targetRef->name, targetRef->alias));
      head = "UPDATE " + quoteName(targetRef->name) + " AS " + quoteName(scope.tables.back().ref);
      std::vector<const TableRef*> others;
      for (const TableRef& r : st.from) {
        if (&r != targetRef) others.push_back(&r);
      }
      from = emit_.fromClause(others, &scope, &conditions);
      if (targetRef->on) conditions.push_back(emit_.expr(*targetRef->on, scope).sql);
    } else {
      scope.tables.push_back(emit_.tableOf(st.name, {}));
      head = "UPDATE " + quoteName(st.name);
      std::vector<const TableRef*> refs;
      for (const TableRef& r : st.from) refs.push_back(&r);
      from = emit_.fromClause(refs, &scope, nullptr);
    }
    const std::vector<ColumnInfo>& columns = scope.tables.front().columns;
    std::string sql = head + " SET ";
    for (std::size_t i = 0; i < st.assignments.size(); ++i) {
      const auto& [name, value] = st.assignments[i];
      const ColumnInfo* c = findColumn(columns, name);
      if (c == nullptr) throw invalidColumnError(name);
      sql += (i ? ", " : "") + quoteName(c->name) + " = " +
             emit_.assign(emit_.expr(*value, scope), c->type);
    }
    if (!from.empty()) sql += " FROM " + from;
    if (st.where) conditions.push_back(emit_.expr(*st.where, scope).sql);
    for (std::size_t i = 0; i < conditions.size(); ++i)
      sql += (i ? " AND " : " WHERE ") + conditions[i];
    return single(std::move(sql));
  }

  Translation remove(const Statement& st) {
    Scope scope;
    scope.tables.push_back(emit_.tableOf(st.name, {}));
    std::string sql = "DELETE FROM " + quoteName(st.name);
    if (st.where) sql += " WHERE " + emit_.expr(*st.where, scope).sql;
    return single(std::move(sql));
  }

  Translation createTable(const Statement& st) {
    if (catalog_.find(st.name) != ObjectKind::None) throw objectExistsError(st.name);
    std::vector<std::string> columns;
    std::vector<ResultColumn> names;
    // An IDENTITY column keyed by a table constraint, as SQL Server's own
    // scripts write it, is keyed on the column itself.
    std::string identityKey;
    for (const TableConstraint& k : st.constraints) {
      if (k.kind != TableConstraint::Kind::PrimaryKey || k.columns.size() != 1) continue;
      for (const ColumnDef& c : st.columnDefs) {
        if (c.identity && equalsIgnoreCase(c.name, k.columns.front())) identityKey = c.name;
      }
    }
    for (const ColumnDef& c : st.columnDefs) {
      names.push_back({c.name, c.type});
      std::string sql = quoteName(c.name) + " ";
      if (c.identity) {
        bool keyed = c.primaryKey || equalsIgnoreCase(c.name, identityKey);
        if (!keyed || c.type.kind != SqlType::Kind::Int) {
          throw engineError(
              "IDENTITY columns are supported only as an integer PRIMARY KEY (column '" + c.name +
              "').");
        }
        columns.push_back(sql + "INTEGER PRIMARY KEY AUTOINCREMENT");
        continue;
      }
      sql += declarationOf(c.type);
      if (c.notNull) sql += " NOT NULL";
      if (c.primaryKey) sql += " PRIMARY KEY";
      if (c.unique) sql += " UNIQUE";
      if (c.defaultValue) {
        Typed value = emit_.expr(*c.defaultValue, Scope());
        std::string v = value.literal != nullptr && c.type.isText() && !c.type.fixed
                            ? value.sql
                            : emit_.assign(value, c.type);
        sql += " DEFAULT (" + v + ")";
      }
      columns.push_back(std::move(sql));
    }
    checkNames(names, st.name, false);
    std::vector<std::string> constraints;
    for (const TableConstraint& k : st.constraints) {
      if (!identityKey.empty() && k.kind == TableConstraint::Kind::PrimaryKey) continue;
      for (const std::string& col : k.columns) {
        bool known = false;
        for (const ResultColumn& n : names) known = known || equalsIgnoreCase(n.name, col);
        if (!known) throw invalidColumnError(col);
      }
      constraints.push_back(
          std::string(k.kind == TableConstraint::Kind::PrimaryKey ? "PRIMARY KEY (" : "UNIQUE (") +
          nameList(k.columns) + ")");
    }
    return single(createTableSql(st.name, columns, constraints));
  }

  Translation createView(const Statement& st) {
    if (catalog_.find(st.name) != ObjectKind::None) throw objectExistsError(st.name);
    SelectResult r = emit_.select(*st.select, nullptr, nullptr);
    std::string head = "CREATE VIEW " + quoteName(st.name);
    if (!st.columns.empty()) {
      if (st.columns.size() != r.columns.size()) {
        throw DbError(
            "42000", 8158,
            "'" + st.name + "' has more or fewer columns than were specified in the column list.");
      }
      for (std::size_t i = 0; i < st.columns.size(); ++i) r.columns[i].name = st.columns[i];
      head += " (" + nameList(st.columns) + ")";
    }
    checkNames(r.columns, st.name, true);
    Translation t;
    t.steps.push_back(head + " AS " + r.sql);
    t.steps.push_back(std::string("CREATE TABLE IF NOT EXISTS ") + kViewColumnsTable +
                      " (view_name TEXT COLLATE NOCASE, ordinal INTEGER, column_name TEXT, "
                      "declared_type TEXT)");
    t.steps.push_back(std::string("DELETE FROM ") + kViewColumnsTable +
                      " WHERE view_name = " + quoteText(st.name));
    std::string insert = std::string("INSERT INTO ") + kViewColumnsTable + " VALUES ";
    for (std::size_t i = 0; i < r.columns.size(); ++i) {
      insert += (i ? ", (" : "(") + quoteText(st.name) + ", " + std::to_string(i + 1) + ", " +
                quoteText(r.columns[i].name) + ", " + quoteText(r.columns[i].type.declaration()) +
                ")";
    }
    t.steps.push_back(insert);
    return t;
  }

  Translation createIndex(const Statement& st) {
    ScopeTable table = emit_.tableOf(st.tableName, {});
    for (const std::string& col : st.columns) {
      if (findColumn(table.columns, col) == nullptr) throw invalidColumnError(col);
    }
    std::string indexName = st.tableName + "." + st.name;
    if (catalog_.find(indexName) != ObjectKind::None) {
      throw DbError("42S11", 1913,
                    "The operation failed because an index or statistics with name '" + st.name +
                        "' already exists on table '" + st.tableName + "'.");
    }
    std::string schema = Catalog::schemaOf(st.tableName);
    return single(std::string("CREATE ") + (st.flag ? "UNIQUE " : "") + "INDEX " + schema + "." +
                  quoteName(indexName) + " ON " + quoteName(st.tableName) + " (" +
                  nameList(st.columns) + ")");
  }

  Translation drop(const Statement& st) {
    Translation t;
    if (st.kind == Statement::Kind::DropIndex) {
      std::string indexName = st.tableName + "." + st.name;
      if (catalog_.find(indexName) != ObjectKind::Index) {
        throw DbError("42S02", 3701,
                      "Cannot drop the index '" + indexName +
                          "', because it does not exist or you do not have permission.");
      }
      t.steps.push_back(std::string("DROP INDEX ") + Catalog::schemaOf(st.tableName) + "." +
                        quoteName(indexName));
      return t;
    }
    bool view = st.kind == Statement::Kind::DropView;
    for (const std::string& name : st.names) {
      ObjectKind kind = catalog_.find(name);
      if (view && kind != ObjectKind::View) throw cannotDropViewError(name);
      if (!view && kind != ObjectKind::Table) throw cannotDropTableError(name);
      t.steps.push_back(std::string(view ? "DROP VIEW " : "DROP TABLE ") + Catalog::schemaOf(name) +
                        "." + quoteName(name));
      if (view && catalog_.hasViewColumnsTable()) {
        t.steps.push_back(std::string("DELETE FROM ") + kViewColumnsTable +
                          " WHERE view_name = " + quoteText(name));
      }
    }
    return t;
  }

 private:
  static Translation single(std::string sql) {
    Translation t;
    t.steps.push_back(std::move(sql));
    return t;
  }

  const Catalog& catalog_;
  Emitter emit_;
};

}  // namespace

std::string quoteName(const std::string& name) {
  return "\"" + replaceAll(name, "\"", "\"\"") + "\"";
}

std::string quoteText(const std::string& text) {
  return "'" + replaceAll(text, "'", "''") + "'";
}

Translation Translator::translate(const Statement& st) const {
  StatementTranslator t(catalog_, order_);
  switch (st.kind) {
    case Statement::Kind::Select:
      return t.select(st);
    case Statement::Kind::Insert:
      return t.insert(st);
    case Statement::Kind::Update:
      return t.update(st);
    case Statement::Kind::Delete:
      return t.remove(st);
    case Statement::Kind::CreateTable:
      return t.createTable(st);
    case Statement::Kind::CreateView:
      return t.createView(st);
    case Statement::Kind::CreateIndex:
      return t.createIndex(st);
    case Statement::Kind::DropTable:
    case Statement::Kind::DropView:
    case Statement::Kind::DropIndex:
      return t.drop(st);
    default:
      throw engineError("statement is run by the connection, not translated");
  }
}

}  // namespace agent::tsql
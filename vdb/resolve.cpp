#include "vdb/resolve.h"

#include <array>

#include "vdb/catalog.h"
#include "vdb/errors.h"
#include "vdb/rowtable.h"
#include "vdb/space.h"

namespace vdb {

namespace {

bool is_symbol(const Token* t, std::string_view symbol) {
    return t && t->kind == TokenKind::symbol && t->text == symbol;
}

// Words after a table name that start the next clause rather than an alias.
bool ends_table_reference(const Token* t) {
    static constexpr std::array words{"WHERE", "GROUP",   "ORDER", "HAVING", "LIMIT", "UNION", "EXCEPT",
                                      "INTERSECT", "WINDOW", "JOIN", "INNER", "LEFT", "RIGHT", "FULL",
                                      "CROSS", "NATURAL", "OUTER", "ON", "USING", "SELECT", "VALUES",
                                      "DEFAULT", "RETURNING"};
    if (!t) return true;
    if (t->kind == TokenKind::symbol) return t->text != "(";
    if (t->kind != TokenKind::word) return false;
    for (const char* word : words)
        if (t->value == word) return true;
    return false;
}

bool ends_from_list(const Token& t) {
    static constexpr std::array words{"WHERE", "GROUP", "ORDER", "HAVING", "LIMIT",
                                      "UNION", "EXCEPT", "INTERSECT", "WINDOW"};
    for (const char* word : words)
        if (t.value == word) return true;
    return false;
}

// The significant tokens of a statement with their places in the full list.
class Walk {
public:
    explicit Walk(const std::vector<Token>& tokens) : tokens_(tokens) {}
    size_t next(size_t i) const {
        ++i;
        while (i < tokens_.size() && tokens_[i].kind == TokenKind::space) ++i;
        return i;
    }
    const Token* at(size_t i) const { return i < tokens_.size() ? &tokens_[i] : nullptr; }

private:
    const std::vector<Token>& tokens_;
};

struct Frame {
    bool query = false;  // a SELECT was seen at this depth
    bool from = false;   // inside its FROM list
};

// The server divides exactly: 7/2 is 3.5, and a sum of bytes over 1024 keeps
// its fraction for ROUND to see. SQLite divides two whole numbers as whole
// numbers, so every "/" first makes its left operand real. "*" and "/" bind
// alike and from the left, so the factor joins whatever the left operand is.
constexpr const char* exact_division = "* 1.0 /";

}  // namespace

ResolvedTable resolve_table(const SessionContext& ctx, const QualifiedName& name, Access access) {
    std::string owner = name.owner.empty() ? ctx.user : name.owner;
    if (auto segment = find_segment(ctx.db, owner, name.name); segment && segment->kind == "TABLE") {
        if (owner != ctx.user && !ctx.dba) fail(code::table_missing, owner + "." + name.name);
        if (access == Access::write)
            check_writable(ctx.db, segment->tablespace);
        else
            check_readable(ctx.db, segment->tablespace);
        return {owner, name.name, segment->tablespace, *segment};
    }
    const DictionaryView* view = nullptr;
    if (name.owner.empty() || name.owner == dictionary_owner) view = find_dictionary_view(name.name);
    if (!view) fail(code::table_missing, (name.owner.empty() ? "" : name.owner + ".") + name.name);
    if ((view->needs_dba && !ctx.dba) || access == Access::write)
        fail(code::no_privilege, std::string(dictionary_owner) + "." + name.name);
    return {std::string(dictionary_owner), name.name, "", {}};
}

std::string rewrite_query(const SessionContext& ctx, const std::vector<Token>& tokens) {
    std::string out;
    Walk walk(tokens);
    std::vector<Frame> frames(1);
    bool expect_table = false, after_in = false;

    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        if (t.kind == TokenKind::space) {
            out += t.text;
            continue;
        }
        if (is_symbol(&t, ";") && walk.next(i) >= tokens.size()) break;
        if (expect_table && (t.kind == TokenKind::word || t.kind == TokenKind::quoted)) {
            expect_table = false;
            QualifiedName name{"", checked_name(t)};
            size_t last = i, dot = walk.next(i);
            if (is_symbol(walk.at(dot), ".")) {
                last = walk.next(dot);
                const Token* second = walk.at(last);
                if (!second) fail(code::missing_expression, "a table name is missing after \".\"");
                name = {name.name, checked_name(*second)};
            }
            ResolvedTable table = resolve_table(ctx, name, Access::read);
            out += table.segment.id ? row_table_name(ctx.db, table.segment.id)
                                    : storage_name(dictionary_owner, table.name);
            // Columns qualified with the table's own name keep working (an IN
            // operand takes no name).
            if (!after_in && ends_table_reference(walk.at(walk.next(last)))) out += " AS " + quote_name(name.name);
            i = last;
            continue;
        }
        expect_table = after_in = false;
        if (is_symbol(&t, "/")) {
            out += exact_division;
            continue;
        }
        if (t.kind == TokenKind::word) {
            if (t.value == "SELECT") frames.back().query = true;
            if (t.value == "FROM" && frames.back().query) expect_table = frames.back().from = true;
            if (t.value == "JOIN") expect_table = true;
            // "x IN name" reads a table as much as a FROM does.
            if (t.value == "IN") expect_table = after_in = true;
            if (ends_from_list(t)) frames.back().from = false;
        } else if (is_symbol(&t, "(")) {
            frames.emplace_back();
        } else if (is_symbol(&t, ")")) {
            if (frames.size() > 1) frames.pop_back();
        } else if (is_symbol(&t, ",") && frames.back().from) {
            expect_table = true;
        }
        // SQLite takes no "#" in a bare name (SERIAL#): such a name is quoted.
        if (t.kind == TokenKind::word && t.value.find('#') != std::string::npos)
            out += quote_name(t.value);
        else
            out += t.text;
    }
    return out;
}

}  // namespace vdb

#include "vdb/sqltext.h"

#include <cctype>
#include <algorithm>
#include <climits>

#include "vdb/errors.h"
#include "vdb/home.h"

namespace vdb {

namespace {

bool word_start(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool word_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '#';
}

// The end of a token quoted with q that starts at i; a doubled quote stays inside.
size_t quoted_end(std::string_view text, size_t i, char q) {
    for (size_t j = i + 1; j < text.size(); ++j) {
        if (text[j] != q) continue;
        if (j + 1 < text.size() && text[j + 1] == q) {
            ++j;
            continue;
        }
        return j + 1;
    }
    fail(code::invalid_sql, "a quoted text is not closed");
}

std::string undouble(std::string_view inner, char q) {
    std::string out;
    for (size_t i = 0; i < inner.size(); ++i) {
        out += inner[i];
        if (inner[i] == q && i + 1 < inner.size() && inner[i + 1] == q) ++i;
    }
    return out;
}

size_t space_end(std::string_view text, size_t i) {
    while (i < text.size()) {
        if (std::isspace(static_cast<unsigned char>(text[i]))) {
            ++i;
        } else if (text.compare(i, 2, "--") == 0) {
            size_t end = text.find('\n', i);
            i = end == std::string_view::npos ? text.size() : end + 1;
        } else if (text.compare(i, 2, "/*") == 0) {
            size_t end = text.find("*/", i + 2);
            if (end == std::string_view::npos) fail(code::invalid_sql, "a comment is not closed");
            i = end + 2;
        } else {
            break;
        }
    }
    return i;
}

}  // namespace

std::vector<Token> tokenize(std::string_view text) {
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < text.size()) {
        size_t start = i;
        char c = text[i];
        TokenKind kind;
        std::string value;
        if (size_t end = space_end(text, i); end > i) {
            kind = TokenKind::space;
            i = end;
        } else if (word_start(c)) {
            while (i < text.size() && word_char(text[i])) ++i;
            kind = TokenKind::word;
        } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                   (c == '.' && i + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1])))) {
            while (i < text.size() && (std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.')) ++i;
            if (i < text.size() && (text[i] == 'e' || text[i] == 'E') && i + 1 < text.size() &&
                (std::isdigit(static_cast<unsigned char>(text[i + 1])) || text[i + 1] == '-' || text[i + 1] == '+')) {
                i += 2;
                while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
            }
            kind = TokenKind::number;
        } else if (c == '\'' || c == '"') {
            i = quoted_end(text, i, c);
            kind = c == '\'' ? TokenKind::string : TokenKind::quoted;
            value = undouble(text.substr(start + 1, i - start - 2), c);
        } else if ((c == ':' && i + 1 < text.size() && word_char(text[i + 1])) || c == '?') {
            ++i;
            if (c == ':')
                while (i < text.size() && word_char(text[i])) ++i;
            kind = TokenKind::param;
        } else if (std::string_view("(),.;=<>!|+-*/%&~").find(c) != std::string_view::npos) {
            ++i;
            if (i < text.size() && ((c == '|' && text[i] == '|') || (c == '<' && (text[i] == '=' || text[i] == '>')) ||
                                    ((c == '>' || c == '!') && text[i] == '=')))
                ++i;
            kind = TokenKind::symbol;
        } else {
            fail(code::invalid_sql, std::string("unexpected character '") + c + "'");
        }
        Token token{kind, text.substr(start, i - start), std::move(value)};
        if (kind == TokenKind::word) token.value = upper(token.text);
        tokens.push_back(std::move(token));
    }
    return tokens;
}

bool valid_name(std::string_view name) {
    if (name.empty() || name.size() > 30 || name.front() == ' ' || name.back() == ' ') return false;
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == '"' || c == '\'' || c == '.') return false;
    }
    return true;
}

std::string checked_name(const Token& token) {
    if (token.kind != TokenKind::word && token.kind != TokenKind::quoted)
        fail(code::invalid_identifier, std::string(token.text));
    if (!valid_name(token.value)) fail(code::invalid_identifier, std::string(token.text));
    return token.value;
}

std::string quote_name(std::string_view name) { return "\"" + std::string(name) + "\""; }

std::string name_text(std::string_view name) {
    bool bare = !name.empty() && word_start(name.front()) && upper(name) == name &&
                std::all_of(name.begin(), name.end(), word_char);
    if (bare) return std::string(name);
    std::string out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

std::vector<std::string> read_name_text(std::string_view text) {
    std::vector<Token> tokens;
    try {
        tokens = tokenize(text);
    } catch (const Error&) {
        return {};
    }
    std::vector<std::string> names;
    bool name_next = true;
    for (const Token& t : tokens) {
        // Blanks around the name, but no comment: what is listed is read whole.
        bool blanks = t.kind == TokenKind::space && t.text.find_first_not_of(" \t") == std::string_view::npos;
        if (blanks && (&t == &tokens.front() || &t == &tokens.back())) continue;
        bool is_name = t.kind == TokenKind::word || t.kind == TokenKind::quoted;
        bool is_dot = t.kind == TokenKind::symbol && t.text == ".";
        if (name_next ? !is_name : !is_dot) return {};
        if (is_name) names.push_back(t.value);
        name_next = !name_next;
    }
    if (name_next || names.size() > 2) return {};
    return names;
}

std::string quote_literal(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

TokenReader::TokenReader(std::string_view text) : source_(text) {
    tokens_ = tokenize(source_);
    skip_space();
}

TokenReader::TokenReader(std::vector<Token> tokens) : tokens_(std::move(tokens)) { skip_space(); }

void TokenReader::skip_space() {
    while (at_ < tokens_.size() && (tokens_[at_].kind == TokenKind::space ||
                                    (tokens_[at_].kind == TokenKind::symbol && tokens_[at_].text == ";" &&
                                     at_ + 1 == tokens_.size())))
        ++at_;
}

bool TokenReader::at_end() const { return at_ >= tokens_.size(); }

const Token* TokenReader::peek() const { return at_end() ? nullptr : &tokens_[at_]; }

bool TokenReader::accept(std::string_view word) {
    const Token* t = peek();
    if (!t || t->kind != TokenKind::word || t->value != word) return false;
    ++at_;
    skip_space();
    return true;
}

bool TokenReader::accept_symbol(char symbol) {
    const Token* t = peek();
    if (!t || t->kind != TokenKind::symbol || t->text.size() != 1 || t->text[0] != symbol) return false;
    ++at_;
    skip_space();
    return true;
}

void TokenReader::syntax_error() const {
    if (at_end()) fail(code::missing_expression, "the statement ends too early");
    fail(code::missing_expression, "unexpected \"" + std::string(tokens_[at_].text) + "\"");
}

void TokenReader::expect(std::string_view word) {
    if (!accept(word)) syntax_error();
}

void TokenReader::expect_symbol(char symbol) {
    if (!accept_symbol(symbol)) syntax_error();
}

void TokenReader::expect_end() {
    if (!at_end()) syntax_error();
}

std::string TokenReader::name() {
    if (at_end()) syntax_error();
    std::string out = checked_name(tokens_[at_]);
    ++at_;
    skip_space();
    return out;
}

QualifiedName TokenReader::qualified_name() {
    std::string first = name();
    if (accept_symbol('.')) return {first, name()};
    return {"", first};
}

std::string TokenReader::string_literal() {
    const Token* t = peek();
    if (!t || t->kind != TokenKind::string) syntax_error();
    std::string out = t->value;
    ++at_;
    skip_space();
    return out;
}

int64_t TokenReader::integer() {
    const Token* t = peek();
    if (!t || t->kind != TokenKind::number || t->text.find_first_not_of("0123456789") != std::string_view::npos ||
        t->text.size() > 15)
        syntax_error();
    int64_t value = std::stoll(std::string(t->text));
    ++at_;
    skip_space();
    return value;
}

std::string TokenReader::number() {
    bool negative = accept_symbol('-');
    const Token* t = peek();
    if (!t || t->kind != TokenKind::number) syntax_error();
    std::string out = (negative ? "-" : "") + std::string(t->text);
    ++at_;
    skip_space();
    return out;
}

std::string TokenReader::password() {
    const Token* t = peek();
    if (!t || (t->kind != TokenKind::word && t->kind != TokenKind::quoted && t->kind != TokenKind::number))
        syntax_error();
    std::string out = t->kind == TokenKind::quoted ? t->value : std::string(t->text);
    ++at_;
    skip_space();
    return out;
}

int64_t TokenReader::size_in_bytes() {
    int64_t value = integer();
    if (accept("K")) return value * 1024;
    if (accept("M")) return value * 1024 * 1024;
    if (accept("G")) return value * 1024 * 1024 * 1024;
    return value;
}

std::string TokenReader::text_until_close() {
    std::string out;
    int depth = 0;
    while (!at_end()) {
        const Token& t = tokens_[at_];
        if (t.kind == TokenKind::symbol && t.text == "(") ++depth;
        if (t.kind == TokenKind::symbol && t.text == ")" && depth-- == 0) {
            ++at_;
            skip_space();
            return out;
        }
        out += t.text;
        ++at_;
    }
    syntax_error();
}

std::vector<Token> TokenReader::rest() const {
    return std::vector<Token>(tokens_.begin() + static_cast<std::ptrdiff_t>(std::min(at_, tokens_.size())), tokens_.end());
}

}  // namespace vdb

// Statement text: tokens, names and a small reader over them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vdb {

enum class TokenKind { space, word, quoted, string, number, param, symbol };

struct Token {
    TokenKind kind;
    std::string_view text;  // as written, quotes included
    std::string value;      // word: upper case; quoted: the name; string: the literal's text
};

// Splits text into tokens, blanks and comments included, so that text can be put
// together again with a few tokens replaced. Fails with -900 on an unterminated
// quote or a character that starts no token.
std::vector<Token> tokenize(std::string_view text);

// Names: bare words fold to upper case, quoted names stay as written. A name has
// 1 to 30 characters, no quote, no dot, no control character and no blank at
// either end:
// so a name can always be written between double quotes on one line of an export
// file without forming anything else there.
std::string checked_name(const Token& token);
bool valid_name(std::string_view name);

// A name as it is written into statement text: between double quotes.
std::string quote_name(std::string_view name);
// A name as the parameter files of the utilities list it, so that it reads
// back as itself: bare when it is a word in upper case, else between double
// quotes with an inner quote doubled.
std::string name_text(std::string_view name);
// The names of "name" or "owner.name" as written there: a bare word folds to
// upper case, a quoted name stays as written ("" in it is a quote). Empty when
// text is anything else: two words, an open quote, a third part.
std::vector<std::string> read_name_text(std::string_view text);
// A text as a string literal: between single quotes, inner quotes doubled.
std::string quote_literal(std::string_view text);

struct QualifiedName {
    std::string owner;  // empty when not given
    std::string name;
};

// Reads a statement token by token, passing over blanks and comments.
class TokenReader {
public:
    // Keeps its own copy of text, which its tokens point into.
    explicit TokenReader(std::string_view text);
    // Reads tokens that point into text the caller keeps alive.
    explicit TokenReader(std::vector<Token> tokens);
    TokenReader(const TokenReader&) = delete;
    TokenReader& operator=(const TokenReader&) = delete;

    bool at_end() const;
    const Token* peek() const;
    // True and consumed when the next token is the word (upper case).
    bool accept(std::string_view word);
    bool accept_symbol(char symbol);
    void expect(std::string_view word);
    void expect_symbol(char symbol);
    void expect_end();

    std::string name();
    QualifiedName qualified_name();
    std::string string_literal();
    int64_t integer();
    // A number as written, with an optional minus sign.
    std::string number();
    // A word as written (not folded), a quoted text or a number: a password.
    std::string password();
    // A size with an optional K, M or G, in bytes.
    int64_t size_in_bytes();
    // The text of the tokens from the current one to the matching ")", which is consumed.
    std::string text_until_close();
    // The tokens from the current one to the end.
    std::vector<Token> rest() const;

    [[noreturn]] void syntax_error() const;

private:
    void skip_space();
    std::string source_;
    std::vector<Token> tokens_;
    size_t at_ = 0;
};

}  // namespace vdb

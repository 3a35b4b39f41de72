#include "platform/engine/schema/validation_rule.h"

#include <cctype>
#include <vector>

#include "platform/core/text.h"
#include "platform/engine/connection/engine_error.h"
#include "platform/engine/connection/engine_failure.h"
#include "platform/engine/connection/sql_quoting.h"

namespace platform::engine::internal {

namespace {

struct Token {
  enum Kind { kWord, kNumber, kString, kSymbol, kEnd } kind;
  std::string text;  // words upper-cased; strings unquoted
};

[[noreturn]] void Untranslatable(std::string_view rule, std::string_view why) {
  throw EngineFailure(engine_err::kUntranslatableRule)
      .AddDetail("validation rule", std::string(rule))
      .AddDetail("engine", std::string(why));
}

std::string QuotedString(std::string_view rule, std::size_t& i) {
  const char quote = rule[i++];
  std::string text;
  for (; i < rule.size(); ++i) {
    if (rule[i] != quote) {
      text += rule[i];
    } else if (i + 1 < rule.size() && rule[i + 1] == quote) {
      text += quote;
      ++i;
    } else {
      ++i;
      return text;
    }
  }
  Untranslatable(rule, "unclosed string");
}

std::string NumberText(std::string_view rule, std::size_t& i) {
  const std::size_t start = i;
  while (i < rule.size() && std::isdigit(static_cast<unsigned char>(rule[i]))) ++i;
  if (i < rule.size() && rule[i] == '.') {
    ++i;
    while (i < rule.size() && std::isdigit(static_cast<unsigned char>(rule[i]))) ++i;
  }
  if (i < rule.size() && (rule[i] == 'e' || rule[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < rule.size() && (rule[j] == '+' || rule[j] == '-')) ++j;
    if (j < rule.size() && std::isdigit(static_cast<unsigned char>(rule[j]))) {
      i = j;
      while (i < rule.size() && std::isdigit(static_cast<unsigned char>(rule[i]))) ++i;
    }
  }
  std::string text(rule.substr(start, i - start));
  if (text == ".") Untranslatable(rule, "bad number");
  return text;
}

std::vector<Token> Tokenize(std::string_view rule) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (i < rule.size()) {
    const char c = rule[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
    } else if (c == '"' || c == '\'') {
      tokens.push_back({Token::kString, QuotedString(rule, i)});
    } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
      tokens.push_back({Token::kNumber, NumberText(rule, i)});
    } else if (std::isalpha(static_cast<unsigned char>(c))) {
      const std::size_t start = i;
      while (i < rule.size() && std::isalpha(static_cast<unsigned char>(rule[i]))) ++i;
      tokens.push_back({Token::kWord, UpperCase(rule.substr(start, i - start))});
    } else if (rule.substr(i, 2) == "<=" || rule.substr(i, 2) == ">=" ||
               rule.substr(i, 2) == "<>") {
      tokens.push_back({Token::kSymbol, std::string(rule.substr(i, 2))});
      i += 2;
    } else if (std::string_view("=<>(),-+").find(c) != std::string_view::npos) {
      tokens.push_back({Token::kSymbol, std::string(1, c)});
      ++i;
    } else {
      Untranslatable(rule, "unexpected character");
    }
  }
  tokens.push_back({Token::kEnd, ""});
  return tokens;
}

// Access wildcards (* ? # [list] [!list]) as a GLOB pattern over the
// upper-cased text (Like ignores case).
std::string GlobPattern(std::string_view rule, const std::string& like) {
  std::string glob;
  for (std::size_t i = 0; i < like.size(); ++i) {
    const char c = like[i];
    if (c == '#') {
      glob += "[0-9]";
    } else if (c == '[') {
      const std::size_t close = like.find(']', i + 1);
      if (close == std::string::npos || close == i + 1) Untranslatable(rule, "bad character list");
      std::string list = like.substr(i + 1, close - i - 1);
      if (list[0] == '!') list[0] = '^';
      glob += "[" + UpperCase(list) + "]";
      i = close;
    } else {
      glob += c;
    }
  }
  return UpperCase(glob);
}

// Parentheses and Not nest by recursion: a bound keeps a hostile rule
// ("((((..." many thousands deep) from exhausting the stack. Rules of
// real shells nest a few levels.
constexpr int kMaxNesting = 100;

class Translator {
 public:
  Translator(std::string_view rule, std::string_view operand)
      : rule_(rule), operand_(operand), tokens_(Tokenize(rule)) {}

  std::string Translate() {
    std::string sql = Or();
    if (Peek().kind != Token::kEnd) Untranslatable(rule_, "unexpected text after the rule");
    return sql;
  }

 private:
  const Token& Peek() const { return tokens_[pos_]; }
  bool Word(std::string_view w) {
    if (Peek().kind == Token::kWord && Peek().text == w) return ++pos_, true;
    return false;
  }
  bool Symbol(std::string_view s) {
    if (Peek().kind == Token::kSymbol && Peek().text == s) return ++pos_, true;
    return false;
  }
  void Expect(bool found, std::string_view what) {
    if (!found) Untranslatable(rule_, std::string("expected ") + std::string(what));
  }

  std::string Or() {
    std::string sql = And();
    while (Word("OR")) sql = "(" + sql + " OR " + And() + ")";
    return sql;
  }
  std::string And() {
    std::string sql = Not();
    while (Word("AND")) sql = "(" + sql + " AND " + Not() + ")";
    return sql;
  }
  std::string Not() {
    if (Word("NOT")) return "(NOT " + Nested([&] { return Not(); }) + ")";
    if (Symbol("(")) {
      std::string sql = Nested([&] { return Or(); });
      Expect(Symbol(")"), "')'");
      return sql;
    }
    return Comparison();
  }
  template <typename Parse>
  std::string Nested(Parse parse) {
    if (++depth_ > kMaxNesting) Untranslatable(rule_, "rule nested too deeply");
    std::string sql = parse();
    --depth_;
    return sql;
  }
  std::string Comparison() {
    const std::string x(operand_);
    // Texts compare without regard to letter case, as in the original
    // engine; SQLite's own NOCASE keeps the rule free of functions of ours.
    // Numbers are not affected by the collation.
    const std::string caseless = x + " COLLATE NOCASE";
    for (const char* op : {"<=", ">=", "<>", "=", "<", ">"}) {
      if (Symbol(op)) return "(" + caseless + " " + op + " " + Literal() + ")";
    }
    if (Word("BETWEEN")) {
      std::string low = Literal();
      Expect(Word("AND"), "And");
      return "(" + caseless + " BETWEEN " + low + " AND " + Literal() + ")";
    }
    if (Word("IN")) {
      Expect(Symbol("("), "'('");
      std::string list = Literal();
      while (Symbol(",")) list += ", " + Literal();
      Expect(Symbol(")"), "')'");
      return "(" + caseless + " IN (" + list + "))";
    }
    if (Word("IS")) {
      const bool negated = Word("NOT");
      Expect(Word("NULL"), "Null");
      return "(" + x + (negated ? " IS NOT NULL)" : " IS NULL)");
    }
    if (Word("LIKE")) {
      Expect(Peek().kind == Token::kString, "a pattern string");
      const std::string pattern = tokens_[pos_++].text;
      return "(upper(CAST(" + x + " AS TEXT)) GLOB " + QuoteSqlString(GlobPattern(rule_, pattern)) +
             ")";
    }
    return "(" + caseless + " = " + Literal() + ")";
  }
  std::string Literal() {
    std::string sign;
    if (Symbol("-")) {
      sign = "-";
    } else {
      Symbol("+");
    }
    const Token& t = Peek();
    if (t.kind == Token::kNumber) return ++pos_, sign + t.text;
    if (t.kind == Token::kString && sign.empty()) return ++pos_, QuoteSqlString(t.text);
    Untranslatable(rule_, "expected a number or a string");
  }

  std::string_view rule_;
  std::string_view operand_;
  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
  int depth_ = 0;
};

}  // namespace

std::string TranslateValidationRule(std::string_view rule, std::string_view operand) {
  if (TrimSpaces(rule).empty()) Untranslatable(rule, "empty rule");
  return Translator(rule, operand).Translate();
}

}  // namespace platform::engine::internal

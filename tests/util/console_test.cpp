#include "util/console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "util/fatal.h"

namespace kavrel {
namespace {

// A console reading the given text and writing into memory.
class ScriptedConsole {
 public:
  explicit ScriptedConsole(std::string input) : input_(std::move(input)) {
    in_ = input_.empty() ? std::tmpfile() : fmemopen(input_.data(), input_.size(), "r");
    out_ = open_memstream(&buf_, &len_);
    console_ = std::make_unique<Console>(in_, out_);
  }
  ~ScriptedConsole() {
    std::fclose(in_);
    std::fclose(out_);
    std::free(buf_);
  }
  Console& operator*() { return *console_; }
  Console* operator->() { return console_.get(); }
  std::string shown() {
    std::fflush(out_);
    return std::string(buf_, len_);
  }

 private:
  std::string input_;
  std::FILE* in_ = nullptr;
  std::FILE* out_ = nullptr;
  char* buf_ = nullptr;
  std::size_t len_ = 0;
  std::unique_ptr<Console> console_;
};

std::string repeat(const std::string& s, int times) {
  std::string r;
  for (int i = 0; i < times; ++i) r += s;
  return r;
}

TEST(ConsoleParse, Logical) {
  for (const char* yes : {"t", "T", ".true.", ".TRUE.", "  true", "tomato", ".t", "t,f", "t/", "2*t"}) {
    EXPECT_EQ(parseLogical(yes), true) << yes;
  }
  for (const char* no : {"f", "F", ".false.", " .F.", "False  t"}) {
    EXPECT_EQ(parseLogical(no), false) << no;
  }
  for (const char* bad : {"", "   ", "yes", "1", ".", "/", ",t", "..t"}) {
    EXPECT_FALSE(parseLogical(bad).has_value()) << bad;
  }
}

TEST(ConsoleParse, IntegerAndReal) {
  EXPECT_EQ(parseInteger("42"), 42);
  EXPECT_EQ(parseInteger("  -7, 9"), -7);
  EXPECT_EQ(parseInteger("+15 /"), 15);
  EXPECT_EQ(parseInteger("3*12"), 12);
  EXPECT_EQ(parseInteger("2147483647"), 2147483647);
  EXPECT_EQ(parseInteger("-2147483648"), -2147483647 - 1);
  for (const char* bad : {"", "12abc", "3.0", "1e3", "abc", "2147483648", "- 3", "+", "/", "3*"}) {
    EXPECT_FALSE(parseInteger(bad).has_value()) << bad;
  }

  EXPECT_EQ(parseReal("3"), 3.0f);
  EXPECT_EQ(parseReal("3."), 3.0f);
  EXPECT_EQ(parseReal(".5"), 0.5f);
  EXPECT_EQ(parseReal("1e3"), 1000.0f);
  EXPECT_EQ(parseReal("1.5d0"), 1.5f);
  EXPECT_EQ(parseReal("-2.5E-1,"), -0.25f);
  EXPECT_EQ(parseReal("2.5D+2"), 250.0f);
  EXPECT_EQ(parseReal(" 0.1 "), 0.1f);  // rounded once, straight to single
  EXPECT_EQ(parseReal("12.34 mm"), 12.34f);
  for (const char* bad : {"", "abc", ".", "-", "1e", "1.5x", "1e40", "inf", "nan", "1e3.5", "12abc"}) {
    EXPECT_FALSE(parseReal(bad).has_value()) << bad;
  }
}

TEST(ConsoleParse, Text) {
  EXPECT_EQ(parseText("gp.rwl"), "gp.rwl");
  EXPECT_EQ(parseText("  gp.rwl  more"), "gp.rwl");
  EXPECT_EQ(parseText("(50x,i3)"), "(50x");
  EXPECT_EQ(parseText("a/b"), "a");
  EXPECT_EQ(parseText("'(50x,i3)'"), "(50x,i3)");
  EXPECT_EQ(parseText("  '(i3)'  "), "(i3)");
  EXPECT_EQ(parseText("'it''s here'"), "it's here");
  EXPECT_EQ(parseText("\"a b\""), "a b");
  for (const char* bad : {"", "   ", ",", "/", "'unterminated", "'it''"}) {
    EXPECT_FALSE(parseText(bad).has_value()) << bad;
  }
}

TEST(Console, AnswersOfEveryKindWithBlockRepeat) {
  const std::string block = "\n Enter something\n  [t]rue or [f]alse :> ";
  ScriptedConsole c("maybe\n\n.True.\n");
  EXPECT_TRUE(c->askLogical(block));
  EXPECT_EQ(c.shown(), repeat(block, 3));  // two unreadable answers, block shown three times

  ScriptedConsole i("12abc\n3.0\n/\n  42 \n");
  EXPECT_EQ(i->askInteger(" n :> "), 42);
  EXPECT_EQ(i.shown(), repeat(" n :> ", 4));

  ScriptedConsole r("x\n1.5d0\n");
  EXPECT_EQ(r->askReal(" limit :> "), 1.5f);
  EXPECT_EQ(r.shown(), repeat(" limit :> ", 2));

  ScriptedConsole t("\n'(50x,i3)'\n");
  EXPECT_EQ(t->askText(" format :> "), "(50x,i3)");
  EXPECT_EQ(t.shown(), repeat(" format :> ", 2));

  // Answers follow one another on successive lines.
  ScriptedConsole seq("gp.rwl\nf\n2\n0.25\n");
  EXPECT_EQ(seq->askText("a"), "gp.rwl");
  EXPECT_FALSE(seq->askLogical("b"));
  EXPECT_EQ(seq->askInteger("c"), 2);
  EXPECT_EQ(seq->askReal("d"), 0.25f);
  EXPECT_EQ(seq.shown(), "abcd");
}

TEST(Console, CrlfAndRawLines) {
  ScriptedConsole c("t\r\n12\r\ngp.rwl\r\n  /\r\n\r\nlast");
  EXPECT_TRUE(c->askLogical("?"));
  EXPECT_EQ(c->askInteger("?"), 12);
  EXPECT_EQ(c->askText("?"), "gp.rwl");
  EXPECT_EQ(c->readLine(), "  /");
  EXPECT_EQ(c->readLine(), "");
  EXPECT_EQ(c->readLine(), "last");  // a last line without its line end
  EXPECT_FALSE(c->tryReadLine().has_value());

  // A NUL byte is an ordinary character: lines stay apart.
  ScriptedConsole nul(std::string("a\0b\n7\n", 6));
  EXPECT_EQ(nul->readLine(), std::string("a\0b", 3));
  EXPECT_EQ(nul->askInteger("?"), 7);

  const std::string longLine(kMaxAnswerBytes, 'x');
  ScriptedConsole l(longLine + "\nnext\n");
  EXPECT_EQ(l->readLine(), longLine);
  EXPECT_EQ(l->readLine(), "next");
}

TEST(Console, AnswersReadAsMeantOrAskedAgain) {
  // A format without quotes that would lose its tail is asked again; a
  // format without separators reads as typed.
  ScriptedConsole f("(10x,i3)\n(i3)\n");
  EXPECT_EQ(f->askQuotedText(" format :> "), "(i3)");
  EXPECT_EQ(f.shown(), std::string(" format :> ") + kFormatInQuotes + "\n format :> ");
  ScriptedConsole q("  '(10x,i3)'  \n");
  EXPECT_EQ(q->askQuotedText("?"), "(10x,i3)");

  // A line longer than kMaxAnswerBytes is dropped and asked again; one of
  // exactly that length (its CR aside) is read.
  const std::string limit(kMaxAnswerBytes, '7');
  ScriptedConsole l(std::string(kMaxAnswerBytes + 1, '7') + "\n" + std::string(1 << 20, 'x') +
                    "\n" + limit + "\r\n");
  EXPECT_EQ(l->readLine(), limit);
  EXPECT_EQ(l.shown(), std::string(kAnswerTooLong) + "\n" + kAnswerTooLong + "\n");
  ScriptedConsole n(std::string(kMaxAnswerBytes + 1, '7') + "\n5\n");
  EXPECT_EQ(n->askInteger("?"), 5);

  // A raw answer loses one pair of enclosing quotes.
  const std::pair<const char*, const char*> names[] = {
      {"'q.ps'", "q.ps"},  {"  'sub/x.ps' ", "sub/x.ps"}, {"q.ps", "q.ps"},
      {"\"a b.ps\"", "a b.ps"}, {"''", ""},               {"'open", ""}, {"  ", ""}};
  for (const auto& [line, name] : names) EXPECT_EQ(unquotedAnswer(line), name) << line;
}

TEST(Console, EndOfInputEndsTheRun) {
  auto expectEnd = [](auto&& call) {
    try {
      call();
      ADD_FAILURE() << "no Fatal at end of input";
    } catch (const Fatal& e) {
      EXPECT_STREQ(e.what(), kEndOfInputMessage);
      EXPECT_NE(e.exitStatus(), 0);
      EXPECT_FALSE(e.pauseForReturn());
    }
  };
  {
    ScriptedConsole c("");
    expectEnd([&] { c->askLogical("q :> "); });
  }
  {
    // Unreadable answers and then nothing: the block is shown once per line, no loop.
    ScriptedConsole c("abc\nxyz");
    expectEnd([&] { c->askInteger("q :> "); });
    EXPECT_EQ(c.shown(), "q :> q :> q :> \n");  // the prompt line is ended
  }
  {
    ScriptedConsole c("");
    expectEnd([&] { c->askReal("q"); });
  }
  {
    ScriptedConsole c("''\n");
    expectEnd([&] { c->askText("q"); });
  }
  {
    ScriptedConsole c("");
    expectEnd([&] { c->pause(); });
    EXPECT_EQ(c.shown(), " Hit RETURN to Continue\n");
  }
  {
    ScriptedConsole c("");
    expectEnd([&] { c->readLine(); });
  }
}

TEST(Console, PauseWaitsForOneLineAndWriteGoesToOut) {
  ScriptedConsole c("anything at all\nt\n");
  c->write("abc");
  c->writeLine(" def");
  c->pause();
  c->pause(" hit return to contunue");
  EXPECT_EQ(c.shown(), "abc def\n Hit RETURN to Continue\n hit return to contunue\n");
  EXPECT_FALSE(c->tryReadLine().has_value());
}

}  // namespace
}  // namespace kavrel

// A run killed while it waits for an answer keeps its log up to that point.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/testdata.h"

namespace kavrel::test {
namespace {

TEST(E2eInterrupt, KilledAtAQuestionTheLogHoldsTheAnswersSoFar) {
  REQUIRE_SHARED_DATA(rwl, "dplr/gp.rwl");
  char pattern[] = "/tmp/kavrel_kill_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path dir = pattern;
  std::filesystem::copy_file(rwl, dir / "gp.rwl");

  int toChild[2];
  int fromChild[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(fromChild), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(toChild[0], 0);
    dup2(fromChild[1], 1);
    close(toChild[1]);
    close(fromChild[0]);
    if (chdir(dir.c_str()) != 0) _exit(127);
    unsetenv("DISPLAY");
    execl(kavrelExe().c_str(), "kavrel", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(toChild[0]);
  close(fromChild[1]);
  // Answers up to the power-transformation question; standard input stays open.
  const std::string answers = "\ngp.rwl\nf\n";
  ASSERT_EQ(write(toChild[1], answers.data(), answers.size()),
            static_cast<ssize_t>(answers.size()));

  std::string screen;
  char buf[4096];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (screen.find("Apply Power Transformation") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    const ssize_t n = read(fromChild[0], buf, sizeof buf);
    if (n <= 0) break;
    screen.append(buf, static_cast<size_t>(n));
  }
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  close(toChild[1]);
  close(fromChild[0]);
  ASSERT_NE(screen.find("Apply Power Transformation"), std::string::npos) << screen;

  std::ifstream log(dir / "Kavrelv6_log.txt");
  std::stringstream text;
  text << log.rdbuf();
  EXPECT_NE(text.str().find(" input file = gp.rwl\n"), std::string::npos) << text.str();
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kavrel::test

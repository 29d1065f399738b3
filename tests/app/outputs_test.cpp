// Outputs under hostile conditions: full disks, file-size limits, broken
// standard output, pipes nobody reads, removed working directories, thread
// limits.  The program is run as users run it; the conditions are made with
// the shell's own means (ulimit, a small tmpfs in a private mount namespace).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/output.h"
#include "support/testutil.h"

namespace fs = std::filesystem;
using mvtest::dataPath;
using mvtest::readFile;
using mvtest::writeFile;

namespace {

using mvtest::listing;
using ShellRun = mvtest::RunResult;
std::string quote(const std::string& s) {
  return mvtest::shellQuote(s);
}

// `script` run by bash in `cwd`; $MV is the program.
ShellRun bash(const std::string& script, const std::string& cwd) {
  const std::string io = mvtest::makeTempDir("mvoutio");
  writeFile(io + "/script", "export MV=" + quote(MV_PROGRAM) + "\n" + script);
  ShellRun r = mvtest::runShell("bash " + quote(io + "/script"), cwd);
  fs::remove_all(io);
  return r;
}

// The program started with `args`, standard output on `outFd`, standard
// error to `errPath`, standard input from `inFd` (-1: /dev/null).
pid_t spawn(const std::vector<std::string>& args, int outFd, const std::string& errPath,
            int inFd = -1, bool ignorePipe = false) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int in = inFd >= 0 ? inFd : ::open("/dev/null", O_RDONLY);
  if (err < 0 || in < 0 || dup2(outFd, 1) < 0 || dup2(err, 2) < 0 || dup2(in, 0) < 0) _exit(99);
  for (int fd = 3; fd < 256; ++fd) ::close(fd);
  if (ignorePipe) signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> all = {MV_PROGRAM};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : all) argv.push_back(s.data());
  argv.push_back(nullptr);
  execv(MV_PROGRAM, argv.data());
  _exit(98);
}

// The exit status of `pid`, or -1 when it has not ended within `seconds`
// (it is killed then).
int waitFor(pid_t pid, double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int st = 0;
  while (waitpid(pid, &st, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > until) {
      kill(pid, SIGKILL);
      waitpid(pid, &st, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

bool canMountTmpfs() {
  static const bool can =
      std::system("unshare -rm sh -c 'mount -t tmpfs -o size=64k none /mnt' >/dev/null 2>&1") == 0;
  return can;
}

TEST(ReplaceFile, WholeNewTextOrTheOldFileAndNoTemporaryLeft) {
  const std::string dir = mvtest::makeTempDir("mvreplace");
  const mode_t mask = umask(022);
  struct Case {
    const char* name;
    std::string path;
    std::function<void()> before;
    int error;
  };
  const std::string kept = dir + "/kept.txt";
  const Case cases[] = {
      {"new file", dir + "/new.txt", [] {}, 0},
      {"over an earlier file", kept, [&] { writeFile(kept, std::string(100000, 'x')); }, 0},
      {"a temporary name left by an earlier run", dir + "/left.txt",
       [&] { writeFile(mv::temporaryName(dir + "/left.txt", 0), "left"); }, 0},
      {"missing directory", dir + "/none/x.txt", [] {}, ENOENT},
      {"onto a directory", dir + "/sub", [&] { fs::create_directory(dir + "/sub"); }, EISDIR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.before();
    const auto earlier = listing(dir);
    const std::string old = readFile(c.path);
    EXPECT_EQ(mv::replaceFile(c.path, "new text\n"), c.error);
    if (c.error == 0) {
      EXPECT_EQ(readFile(c.path), "new text\n");
      struct stat st {};
      ASSERT_EQ(stat(c.path.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0644u);
      auto now = earlier;
      now.insert(fs::path(c.path).filename().string());
      EXPECT_EQ(listing(dir), now);
    } else {
      EXPECT_EQ(listing(dir), earlier);
      EXPECT_EQ(readFile(c.path), old);
    }
  }
  EXPECT_EQ(readFile(mv::temporaryName(dir + "/left.txt", 0)), "left");
  umask(mask);
  fs::remove_all(dir);
}

// An earlier complete output survives a new one that cannot be written
// whole, and nothing partial is left beside it.
TEST(Outputs, FullDiskOrFileLimitKeepsTheEarlierOutput) {
  const std::string h2 = dataPath("h2_rhf_sto3g.fchk"), water = dataPath("h2o_rhf_sto3g.fchk");
  struct Case {
    const char* name;
    bool tmpfs;        // out/ and pics/ on a small file system filled up
    std::string mode;  // extra options
    std::string ext;
    const char* reason;
  };
  const Case cases[] = {
      {"file-size limit, text", false, "", ".txt", "File too large"},
      {"file-size limit, JSON", false, "--json", ".json", "File too large"},
      {"full disk, text and drawing", true, "--svg pics", ".txt", "No space left on device"},
      {"full disk, JSON", true, "--json", ".json", "No space left on device"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.tmpfs && !canMountTmpfs()) {
      std::cout << "no private tmpfs here: " << c.name << " skipped\n";
      continue;
    }
    const std::string cwd = mvtest::makeTempDir("mvfull");
    const std::string drawing = c.mode == "--svg pics" ? "pics/mol.svg" : "";
    std::string script = "set -e\nmkdir -p out pics\n";
    if (c.tmpfs)
      script += "mount -t tmpfs -o size=256k none out\nmount -t tmpfs -o size=256k none pics\n";
    script += "cp " + quote(h2) + " mol.fchk\ncp " + quote(h2) + " other.fchk\n";
    script += "$MV -o out " + c.mode + " mol.fchk other.fchk\n";
    script += "cp out/mol" + c.ext + " earlier\n";
    if (!drawing.empty()) script += "cp " + drawing + " earlier.svg\n";
    script += "cp " + quote(water) + " mol.fchk\nset +e\n";
    if (c.tmpfs)
      script += "cat /dev/zero >out/filler 2>/dev/null; cat /dev/zero >pics/filler 2>/dev/null\n";
    // One input now: --svg names the drawing itself.
    const std::string again = drawing.empty() ? c.mode : "--svg " + drawing;
    script += "( " + std::string(c.tmpfs ? "" : "trap '' XFSZ; ulimit -f 1; ") +
              "exec $MV -o out " + again + " mol.fchk ) >stdout 2>stderr\necho $? >status\n";
    script += "rm -f out/filler pics/filler\nls -A out >listing\nls -A pics >>listing\n";
    script += "cp out/mol" + c.ext + " after\n";
    if (!drawing.empty()) script += "cp " + drawing + " after.svg\n";
    const ShellRun r = bash(c.tmpfs ? "unshare -rm bash -c " + quote(script) : script, cwd);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(cwd + "/status"), "2\n");
    std::string expected =
        "mirvante: out/mol" + c.ext + ": cannot write the output: " + c.reason + "\n";
    if (!drawing.empty())
      expected += "mirvante: " + drawing + ": cannot write the drawing: " + c.reason + "\n";
    EXPECT_EQ(readFile(cwd + "/stderr"), expected);
    EXPECT_EQ(readFile(cwd + "/stdout"), "");
    EXPECT_FALSE(readFile(cwd + "/earlier").empty());
    EXPECT_EQ(readFile(cwd + "/after"), readFile(cwd + "/earlier"));
    if (!drawing.empty()) {
      EXPECT_EQ(readFile(cwd + "/after.svg"), readFile(cwd + "/earlier.svg"));
    }
    EXPECT_EQ(readFile(cwd + "/listing"),
              drawing.empty() ? "mol" + c.ext + "\nother" + c.ext + "\n"
                              : "mol" + c.ext + "\nother" + c.ext + "\nmol.svg\nother.svg\n");
    fs::remove_all(cwd);
  }
}

// A failed write of standard output ends the batch: the files after it are
// not analysed (the missing file's diagnostic never comes).
TEST(Outputs, StandardOutputErrorStopsTheBatch) {
  const std::string cwd = mvtest::makeTempDir("mvstdout");
  const std::vector<std::string> files = {dataPath("h2o_rhf_sto3g.fchk"),
                                          dataPath("h2_rhf_sto3g.fchk"), cwd + "/missing.fchk"};
  struct Case {
    const char* name;
    int fd;  // -1: a pipe whose reader is gone
    const char* reason;
  };
  const int full = ::open("/dev/full", O_WRONLY);
  const int readOnly = ::open("/dev/null", O_RDONLY);  // as a closed stream is held
  ASSERT_GE(full, 0);
  const Case cases[] = {{"full device", full, "No space left on device"},
                        {"closed", readOnly, "Bad file descriptor"},
                        {"reader gone, SIGPIPE ignored", -1, "Broken pipe"}};
  for (const char* mode : {"--json", "--min-bond=0.1"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " " + mode);
      int fd = c.fd;
      int p[2] = {-1, -1};
      if (fd < 0) {
        ASSERT_EQ(pipe(p), 0);
        ::close(p[0]);
        fd = p[1];
      }
      std::vector<std::string> args = {mode, "-j", "1"};
      args.insert(args.end(), files.begin(), files.end());
      const pid_t pid = spawn(args, fd, cwd + "/err", -1, true);
      if (p[1] >= 0) ::close(p[1]);
      EXPECT_EQ(waitFor(pid, 60), 2);
      EXPECT_EQ(
          readFile(cwd + "/err"),
          std::string("mirvante: cannot write the report to standard output: ") + c.reason + "\n");
    }
  }
  ::close(full);
  ::close(readOnly);
  fs::remove_all(cwd);
}

// An interrupt or a termination is acted on while the report waits for a
// reader that does not read.
TEST(Outputs, SignalEndsAWriteBlockedOnAPipe) {
  const std::string cwd = mvtest::makeTempDir("mvblocked");
  std::vector<std::string> args = {"-j", "2"};
  for (int k = 0; k < 400; ++k) args.push_back(dataPath("h2o_rhf_sto3g.fchk"));
  for (int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    const pid_t pid = spawn(args, p[1], cwd + "/err");
    ::close(p[1]);
    // Wait until the pipe is full (what it holds stops growing): the
    // program is then blocked writing.
    int queued = 0, before = -1;
    for (int k = 0; k < 200 && (queued < 32768 || queued != before); ++k) {
      before = queued;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      ioctl(p[0], FIONREAD, &queued);
    }
    ASSERT_GE(queued, 32768);
    kill(pid, sig);
    EXPECT_EQ(waitFor(pid, 20), 130);
    EXPECT_EQ(readFile(cwd + "/err"), "mirvante: interrupted\n");
    ::close(p[0]);
  }
  fs::remove_all(cwd);
}

// A file that is not analysed: its -o report says why, as standard error
// did, and a drawing of an earlier run is removed rather than left to pass
// for it.
TEST(Outputs, FailedFileLeavesItsReasonAndNoStaleDrawing) {
  const std::string good = readFile(dataPath("h2o_rhf_sto3g.fchk"));
  const struct {
    const char* name;
    std::string text;  // "" for a missing file
  } damages[] = {
      {"cut short", good.substr(0, good.find("Total SCF Density") + 200)},
      {"missing", ""},
      {"not a checkpoint file", "hello\n"},
  };
  for (const auto& d : damages) {
    for (bool several : {true, false}) {
      SCOPED_TRACE(std::string(d.name) + (several ? ", two files" : ", one file"));
      const std::string cwd = mvtest::makeTempDir("mvstale");
      writeFile(cwd + "/good.fchk", good);
      writeFile(cwd + "/mol.fchk", good);
      std::vector<std::string> args = {"-o", "out", "--svg", several ? "pics" : "pics/mol.svg"};
      if (several) args.push_back("good.fchk");
      args.push_back("mol.fchk");
      fs::create_directory(cwd + "/pics");
      std::string cmd = "$MV";
      for (const std::string& a : args) cmd.append(" ").append(quote(a));
      ASSERT_EQ(bash(cmd, cwd).status, 0);
      ASSERT_TRUE(fs::exists(cwd + "/pics/mol.svg"));
      if (d.text.empty())
        fs::remove(cwd + "/mol.fchk");
      else
        writeFile(cwd + "/mol.fchk", d.text);
      const ShellRun r = bash(cmd, cwd);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(mvtest::lines(r.err).size(), 1u) << r.err;
      EXPECT_EQ(r.err.rfind("mirvante: mol.fchk", 0), 0u) << r.err;
      EXPECT_FALSE(fs::exists(cwd + "/pics/mol.svg"));
      EXPECT_EQ(fs::exists(cwd + "/pics/good.svg"), several);
      const std::string report = readFile(cwd + "/out/mol.txt");
      ASSERT_GE(report.size(), r.err.size());
      EXPECT_EQ(report.substr(report.size() - r.err.size()), r.err);
      fs::remove_all(cwd);
    }
  }
}

// Relative outputs in a working directory that has been removed.
TEST(Outputs, RemovedWorkingDirectoryIsAClearError) {
  const std::string a = dataPath("h2_rhf_sto3g.fchk"), b = dataPath("h2o_rhf_sto3g.fchk");
  const struct {
    std::vector<std::string> args;
    const char* what;
  } cases[] = {
      {{"-o", "reports", a}, "output directory reports"},
      {{"--json", "-o", "reports", a, b}, "output directory reports"},
      {{"--svg", "water.svg", b}, "drawing water.svg"},
      {{"--svg", "pics", a, b}, "drawing pics"},
  };
  const std::string top = mvtest::makeTempDir("mvgone");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string cmd = "mkdir gone && cd gone && rmdir ../gone && exec $MV";
    for (const std::string& s : c.args) cmd.append(" ").append(quote(s));
    const ShellRun r = bash(cmd, top);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, std::string("mirvante: cannot place the ") + c.what +
                         ": the working directory is not accessible: No such file or directory\n");
  }
  fs::remove_all(top);
}

// The processors this process may run on.
int usableCores() {
  cpu_set_t set;
  return sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
}

TEST(Outputs, ThreadsNoMoreThanTheSystemAllows) {
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer's shadow memory and leak checker need the address space
  // and the threads that this test takes away.
  GTEST_SKIP() << "not meaningful under AddressSanitizer";
#endif
  const std::string cwd = mvtest::makeTempDir("mvthreads");
  // -j 4096 on one file: count the threads while it waits for its input.
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  const int out = ::open((cwd + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const pid_t pid = spawn({"-j", "4096", "-"}, out, cwd + "/err", p[0]);
  ::close(p[0]);
  ::close(out);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::size_t threads = 0;
  for ([[maybe_unused]] const auto& t :
       fs::directory_iterator("/proc/" + std::to_string(pid) + "/task"))
    ++threads;
  const std::string text = readFile(dataPath("h2o_rhf_sto3g.fchk"));
  EXPECT_EQ(write(p[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ::close(p[1]);
  EXPECT_EQ(waitFor(pid, 60), 0);
  // The writer and one analysing thread per usable processor.
  EXPECT_GE(threads, 2u);
  EXPECT_LE(threads, static_cast<std::size_t>(usableCores()) + 1);

  // A process limit that allows no thread at all: the files are analysed
  // on the main thread, with the same output.  The ordinary user who runs
  // it may not reach the build tree (a clone in a private directory): the
  // program and the files are copied where anyone may read them.
  fs::permissions(cwd, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec);
  fs::copy_file(MV_PROGRAM, cwd + "/mirvante");
  std::vector<std::string> files;
  for (const char* name : {"h2o_rhf_sto3g.fchk", "ch2_rohf_631gs.fchk"}) {
    fs::copy_file(dataPath(name), cwd + "/" + name);
    files.push_back(cwd + "/" + name);
  }
  std::string plain = "exec " + quote(cwd + "/mirvante") + " -j 4";
  for (const std::string& f : files) plain.append(" ").append(quote(f));
  for (const char* mode : {"--json", "--min-bond=0.1"}) {
    SCOPED_TRACE(mode);
    const ShellRun ref = bash(plain + " " + mode, cwd);
    ASSERT_EQ(ref.status, 0);
    // The limit binds only an ordinary user.
    const std::string limited = "ulimit -u 1 && " + plain + " " + mode;
    const ShellRun r = bash((geteuid() == 0 ? "exec setpriv --reuid=65534 --regid=65534 "
                                              "--clear-groups bash -c "
                                            : "exec bash -c ") +
                                quote(limited),
                            cwd);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, ref.out);
  }
  fs::remove_all(cwd);
}

// The check that no two outputs collide and none overwrites an input, over
// thousands of inputs.
TEST(Outputs, CollisionCheckOverThousandsOfFiles) {
  const std::string cwd = mvtest::makeTempDir("mvmany");
  fs::create_directories(cwd + "/in");
  fs::create_directories(cwd + "/other");
  fs::create_directories(cwd + "/out");
  std::vector<std::string> files;
  for (int k = 0; k < 4000; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "in/f%04d.fchk", k);
    writeFile(cwd + "/" + name, "");
    files.emplace_back(name);
  }
  writeFile(cwd + "/other/f3999.fchk", "");
  const struct {
    const char* name;
    std::function<void(std::vector<std::string>&)> make;
    std::string err;
  } cases[] = {
      {"two inputs, one stem", [](auto& f) { f.push_back("other/f3999.fchk"); },
       "mirvante: inputs in/f3999.fchk and other/f3999.fchk would both write the output "
       "out/f3999.txt\n"},
      {"an output that is an input",
       [&](auto&) { fs::create_hard_link(cwd + "/in/f2000.fchk", cwd + "/out/f0100.txt"); },
       "mirvante: the output out/f0100.txt would overwrite the input in/f2000.fchk\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = files;
    c.make(args);
    std::string list;
    for (const std::string& f : args) list += f + "\n";
    writeFile(cwd + "/list", list);
    const ShellRun r = bash("mapfile -t F <list && exec $MV -o out \"${F[@]}\"", cwd);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(listing(cwd + "/out").size(), c.err.find("overwrite") == std::string::npos ? 0u : 1u);
  }
  fs::remove_all(cwd);
}

// A file name that is not UTF-8 comes back byte for byte from the JSON
// "file" field, undone as the manual says.
TEST(Outputs, JsonFileNameBytesAreRecoverable) {
  auto undo = [](const std::string& s) {
    std::string out;
    for (std::size_t k = 0; k < s.size(); ++k) {
      if (s[k] != '\\') {
        out += s[k];
      } else if (s[k + 1] == '\\') {
        out += '\\';
        ++k;
      } else {
        out += static_cast<char>(std::stoi(s.substr(k + 2, 2), nullptr, 16));
        k += 3;
      }
    }
    return out;
  };
  const std::string cwd = mvtest::makeTempDir("mvnames");
  const std::string text = readFile(dataPath("h2_rhf_sto3g.fchk"));
  const struct {
    std::string name;
    bool escaped;
  } cases[] = {
      {"plain.fchk", false},
      {"w\xc3\xa4ter\\x41.fchk", false},  // UTF-8 with a backslash: as given
      {"bad\xff\xfe.fchk", true},
      {"mixed\xc3\xa4\\\xc3.fchk", true},
      {"line\nbreak\x80.fchk", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(cwd + "/" + c.name, text);
    const ShellRun r = bash("exec $MV --json " + quote(c.name), cwd);
    EXPECT_EQ(r.status, 0);
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j.contains("file_escaped"), c.escaped);
    const std::string file = j["file"].get<std::string>();
    EXPECT_EQ(c.escaped ? undo(file) : file, c.name);
    EXPECT_EQ(j["status"], "ok");
  }
  fs::remove_all(cwd);
}

}  // namespace

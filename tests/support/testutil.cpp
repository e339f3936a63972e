#include "support/testutil.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <tuple>

extern char** environ;

namespace testutil {

namespace {

void list_into(const std::string& root, const std::string& rel, std::vector<std::string>& out) {
  std::string full = rel.empty() ? root : root + "/" + rel;
  DIR* d = opendir(full.c_str());
  if (!d) return;
  std::vector<std::string> names;
  while (struct dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string& n : names) {
    std::string r = rel.empty() ? n : rel + "/" + n;
    std::string p = root + "/" + r;
    struct stat st;
    if (lstat(p.c_str(), &st) != 0) continue;
    char buf[64];
    if (S_ISLNK(st.st_mode)) {
      char t[4096];
      ssize_t k = readlink(p.c_str(), t, sizeof t - 1);
      t[k < 0 ? 0 : k] = '\0';
      out.push_back(r + " -> " + t);
    } else {
      std::snprintf(buf, sizeof buf, " %04o", unsigned(st.st_mode & 07777));
      out.push_back(r + (S_ISDIR(st.st_mode) ? "/" : "") + buf);
      if (S_ISDIR(st.st_mode)) list_into(root, r, out);
    }
  }
}

}  // namespace

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/corvane-test-";
  const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
  if (t) tmpl += std::string(t->name()) + "-";
  tmpl += std::to_string(getpid()) + "-" + std::to_string(counter++) + "-XXXXXX";
  if (!mkdtemp(tmpl.data())) ADD_FAILURE() << "mkdtemp failed: " << std::strerror(errno);
  // Resolve so that tests can compare with the absolute paths corvane prints.
  char real[PATH_MAX];
  path_ = realpath(tmpl.c_str(), real) ? real : tmpl;
}

// A test may leave a tree deeper, or with paths longer, than a path can
// name, also when an assertion ended it early.
TempDir::~TempDir() { remove_deep_tree(path_); }

ScratchDir::ScratchDir(const std::string& where) : path_(where) {
  std::string shm = "/dev/shm/corvane-scratch-XXXXXX";
  if (access("/dev/shm", W_OK) == 0 && mkdtemp(shm.data())) {
    path_ = shm;
    make_symlink(path_, where);
  } else {
    make_dirs(path_);
  }
}

ScratchDir::~ScratchDir() { remove_deep_tree(path_); }

void make_dirs(const std::string& path, mode_t mode) {
  std::string cur;
  size_t pos = 0;
  while (pos != std::string::npos) {
    size_t next = path.find('/', pos + 1);
    cur = path.substr(0, next);
    if (!cur.empty()) {
      if (mkdir(cur.c_str(), mode) == 0) chmod(cur.c_str(), mode);
    }
    pos = next;
  }
}

void write_file(const std::string& path, const std::string& content, mode_t mode) {
  auto slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) make_dirs(path.substr(0, slash));
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << content;
  f.close();
  if (!f) ADD_FAILURE() << "cannot write " << path;
  chmod(path.c_str(), mode);
}

void make_symlink(const std::string& target, const std::string& path) {
  auto slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) make_dirs(path.substr(0, slash));
  if (symlink(target.c_str(), path.c_str()) != 0)
    ADD_FAILURE() << "symlink " << path << ": " << std::strerror(errno);
}

void make_hardlink(const std::string& existing, const std::string& path) {
  if (link(existing.c_str(), path.c_str()) != 0)
    ADD_FAILURE() << "link " << path << ": " << std::strerror(errno);
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    ADD_FAILURE() << "cannot read " << path;
    return "";
  }
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string unwrap(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] == ' ') {
      while (i + 1 < text.size() && text[i + 1] == ' ') ++i;
      out += ' ';
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string bin_dir() { return CORVANE_BIN_DIR; }

namespace {

RunResult run_child(const std::string& name, const std::vector<std::string>& args,
                    const RunOptions& opt) {
  RunResult r;
  std::string exe = name.find('/') == std::string::npos ? bin_dir() + "/" + name : name;
  int outp[2], errp[2], inp[2];
  if (pipe(outp) || pipe(errp) || pipe(inp)) {
    ADD_FAILURE() << "pipe failed";
    return r;
  }
  // Environment: the test's own, without COLUMNS, plus the requested changes.
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string kv = *e;
    std::string k = kv.substr(0, kv.find('='));
    if (k == "COLUMNS" || opt.env.count(k) ||
        std::find(opt.unset.begin(), opt.unset.end(), k) != opt.unset.end())
      continue;
    env.push_back(kv);
  }
  for (const auto& [k, v] : opt.env) env.push_back(k + "=" + v);
  std::vector<char*> envp, argv;
  for (std::string& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argstore{name.substr(name.rfind('/') + 1)};
  argstore.insert(argstore.end(), args.begin(), args.end());
  for (std::string& s : argstore) argv.push_back(s.data());
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    dup2(inp[0], 0);
    dup2(outp[1], 1);
    dup2(errp[1], 2);
    for (int fd : {inp[0], inp[1], outp[0], outp[1], errp[0], errp[1]}) close(fd);
    if (!opt.cwd.empty() && chdir(opt.cwd.c_str()) != 0) _exit(126);
    execve(exe.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(inp[0]);
  close(outp[1]);
  close(errp[1]);
  if (!opt.input.empty()) {
    ssize_t w = write(inp[1], opt.input.data(), opt.input.size());
    (void)w;
  }
  close(inp[1]);
  struct pollfd fds[2] = {{outp[0], POLLIN, 0}, {errp[0], POLLIN, 0}};
  std::string* sinks[2] = {&r.out, &r.err};
  int open = 2;
  char buf[65536];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, n);
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

// The XML files directly in the base directory of a run, by name, with
// what tells a rewritten file from the one before.
using XmlFiles = std::map<std::string, std::tuple<ino_t, long, long, off_t>>;

std::string base_directory(const std::vector<std::string>& args, const RunOptions& opt) {
  std::string base = ".";
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-d" && i + 1 < args.size()) base = args[i + 1];
    else if (args[i].starts_with("-d") && args[i].size() > 2) base = args[i].substr(2);
  }
  if (base[0] != '/' && !opt.cwd.empty()) base = opt.cwd + "/" + base;
  return base;
}

XmlFiles xml_files(const std::string& dir) {
  XmlFiles files;
  DIR* d = opendir(dir.c_str());
  if (!d) return files;
  while (struct dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    struct stat st;
    if (!name.ends_with(".xml") || lstat((dir + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      continue;
    files[name] = {st.st_ino, st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_size};
  }
  closedir(d);
  return files;
}

}  // namespace

// Every XML file a successful run writes must be valid against the schema,
// so no test can pass on output the documented format does not allow.
RunResult run_program(const std::string& name, const std::vector<std::string>& args,
                      const RunOptions& opt) {
  if (name.find('/') != std::string::npos) return run_child(name, args, opt);
  const std::string base = base_directory(args, opt);
  const XmlFiles before = xml_files(base);
  RunResult r = run_child(name, args, opt);
  if (r.status != 0) return r;
  for (const auto& [file, id] : xml_files(base)) {
    const auto old = before.find(file);
    if (old != before.end() && old->second == id) continue;
    EXPECT_EQ(xml_schema_errors(base + "/" + file), "") << "written by " << name << " in " << base;
  }
  return r;
}

std::string list_tree(const std::string& root) {
  std::vector<std::string> lines;
  list_into(root, "", lines);
  std::string s;
  for (const std::string& l : lines) s += l + "\n";
  return s;
}

std::string xml_schema() { return std::string(CORVANE_SOURCE_DIR) + "/docs/corvane.rng"; }

std::string xml_schema_errors(const std::string& path) {
  RunResult r = run_program("/usr/bin/env", {"xmllint", "--noout", "--relaxng", xml_schema(), path});
  if (r.status == 0) return "";
  return r.err + r.out + "(xmllint status " + std::to_string(r.status) + ")\n";
}

namespace {

constexpr uid_t kNobody = 65534;
constexpr const char* kSetpriv = "/usr/bin/setpriv";

void give_tree(const std::string& path, uid_t uid) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (lchown(path.c_str(), uid, uid) != 0) ADD_FAILURE() << "lchown " << path << ": " << std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return;
  std::vector<std::string> names;
  if (DIR* d = opendir(path.c_str())) {
    while (struct dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
  }
  for (const std::string& n : names) give_tree(path + "/" + n, uid);
}

}  // namespace

std::optional<RunResult> run_unprivileged(const std::string& name, const std::vector<std::string>& args,
                                          const std::string& tree, const RunOptions& opt) {
  if (geteuid() != 0) return run_program(name, args, opt);
  if (access(kSetpriv, X_OK) != 0) return std::nullopt;
  give_tree(tree, kNobody);
  std::string id = std::to_string(kNobody);
  std::string exe = name.find('/') == std::string::npos ? bin_dir() + "/" + name : name;
  std::vector<std::string> wrapped = {"--reuid=" + id, "--regid=" + id, "--clear-groups", exe};
  wrapped.insert(wrapped.end(), args.begin(), args.end());
  RunResult r = run_program(kSetpriv, wrapped, opt);
  if ((r.status == 126 || r.status == 127) && r.out.empty() && r.err.starts_with("setpriv")) return std::nullopt;
  return r;
}

}  // namespace testutil

namespace testutil {

namespace {

// Names in the working directory, and whether each is a directory (not a link).
std::vector<std::pair<std::string, bool>> entries_here() {
  std::vector<std::pair<std::string, bool>> out;
  DIR* d = opendir(".");
  if (!d) return out;
  while (struct dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    struct stat st;
    bool dir = lstat(n.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    out.emplace_back(n, dir);
  }
  closedir(d);
  return out;
}

}  // namespace

void remove_deep_tree(const std::string& root) {
  int home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  chmod(root.c_str(), 0700);
  if (chdir(root.c_str()) != 0) {
    close(home);
    return;
  }
  std::vector<std::string> down;  // names from root to the working directory
  // A directory that cannot be entered or removed ends the walk, which
  // would otherwise come back to it for ever.
  for (bool stuck = false; !stuck;) {
    std::string sub;
    for (const auto& [name, dir] : entries_here()) {
      if (!dir)
        unlink(name.c_str());
      else if (sub.empty())
        sub = name;
    }
    if (!sub.empty()) {
      chmod(sub.c_str(), 0700);
      stuck = chdir(sub.c_str()) != 0;
      if (!stuck) down.push_back(sub);
      continue;
    }
    if (down.empty() || chdir("..") != 0) break;
    stuck = rmdir(down.back().c_str()) != 0;
    down.pop_back();
  }
  if (home >= 0) {
    if (fchdir(home) != 0) ADD_FAILURE() << "cannot return to the working directory";
    close(home);
  }
  rmdir(root.c_str());
}

int make_nested_dirs(const std::string& root, int depth, const std::string& name) {
  int cur = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int i = 0; i < depth && cur >= 0; ++i) {
    if (mkdirat(cur, name.c_str(), 0755) != 0) ADD_FAILURE() << "mkdir at level " << i;
    int next = openat(cur, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(cur);
    cur = next;
  }
  if (cur < 0) ADD_FAILURE() << "cannot make " << depth << " levels below " << root;
  return cur;
}

}  // namespace testutil

namespace testutil {

namespace {

// The user nobody's ids; false when there is no such user.
bool nobody_ids(uid_t& uid, gid_t& gid) {
  struct passwd* pw = getpwnam("nobody");
  if (!pw) return false;
  uid = pw->pw_uid;
  gid = pw->pw_gid;
  return true;
}

// In the child: standard output as `setup` asks, then the user.
bool apply_setup(const ChildSetup& setup) {
  if (setup.close_stdout) {
    close(1);
  } else if (!setup.stdout_path.empty()) {
    int fd = open(setup.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, 1) < 0) return false;
    close(fd);
  }
  if (setup.as_nobody) {
    uid_t uid;
    gid_t gid;
    if (!nobody_ids(uid, gid) || setgroups(0, nullptr) != 0 || setgid(gid) != 0 ||
        setuid(uid) != 0)
      return false;
  }
  return true;
}

}  // namespace

bool can_run_as_nobody() {
  uid_t uid;
  gid_t gid;
  return geteuid() == 0 && nobody_ids(uid, gid);
}

RunResult run_program_with(const std::string& name, const std::vector<std::string>& args,
                           const ChildSetup& setup, const RunOptions& opt) {
  RunResult r;
  std::string exe = name.find('/') == std::string::npos ? bin_dir() + "/" + name : name;
  int outp[2], errp[2];
  if (pipe(outp) || pipe(errp)) {
    ADD_FAILURE() << "pipe failed";
    return r;
  }
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string kv = *e;
    std::string k = kv.substr(0, kv.find('='));
    if (k == "COLUMNS" || opt.env.count(k) ||
        std::find(opt.unset.begin(), opt.unset.end(), k) != opt.unset.end())
      continue;
    env.push_back(kv);
  }
  for (const auto& [k, v] : opt.env) env.push_back(k + "=" + v);
  std::vector<char*> envp, argv;
  for (std::string& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argstore{name.substr(name.rfind('/') + 1)};
  argstore.insert(argstore.end(), args.begin(), args.end());
  for (std::string& s : argstore) argv.push_back(s.data());
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    dup2(outp[1], 1);
    dup2(errp[1], 2);
    for (int fd : {devnull, outp[0], outp[1], errp[0], errp[1]}) close(fd);
    if (!opt.cwd.empty() && chdir(opt.cwd.c_str()) != 0) _exit(126);
    if (!apply_setup(setup)) _exit(125);
    execve(exe.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(outp[1]);
  close(errp[1]);
  struct pollfd fds[2] = {{outp[0], POLLIN, 0}, {errp[0], POLLIN, 0}};
  std::string* sinks[2] = {&r.out, &r.err};
  int open_fds = 2;
  char buf[65536];
  while (open_fds > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, n);
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

}  // namespace testutil

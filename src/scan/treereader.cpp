#include "scan/treereader.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace {

// The queue holds at most this much listing, or one directory if that alone
// is larger: enough to keep the reader ahead, little against the model.
constexpr std::size_t QUEUE_BYTES = std::size_t{1} << 20;
// Items kept for reuse, and the largest whose memory is worth keeping.
constexpr std::size_t SPARE_ITEMS = 64;
constexpr std::size_t SPARE_BYTES = std::size_t{64} << 10;
constexpr mode_t SEARCH_BY_ALL = S_IXUSR | S_IXGRP | S_IXOTH;

std::size_t bytes_of(const tree_item& item) {
  return item.batch.text.capacity() + item.batch.entries.capacity() * sizeof(read_entry);
}

}  // namespace

// A directory the reader holds while it reads its subdirectories.
struct tree_reader::frame {
  struct sub {
    std::size_t name = 0;   ///< in `names`
    std::size_t index = 0;  ///< in the directory's batch
    mode_t mode = 0;
    dev_t dev = 0;
    ino_t ino = 0;
  };
  UniqueFd fd;
  dev_t dev = 0;
  ino_t ino = 0;
  std::string names;
  std::vector<sub> subs;
  std::size_t next = 0;

  // Takes the subdirectories of `batch`; the batch itself goes to the scan.
  void take(int dir, dev_t d, ino_t i, const dir_batch& batch) {
    fd.reset(dir);
    dev = d;
    ino = i;
    names.clear();
    subs.clear();
    next = 0;
    for (std::size_t k = 0; k < batch.entries.size(); ++k) {
      const read_entry& e = batch.entries[k];
      if (e.stat_errno || !S_ISDIR(e.mode)) continue;
      subs.push_back({names.size(), k, e.mode, e.dev, e.ino});
      names.append(batch.name(e));
      names += '\0';
    }
  }
};

// The directories from the root down to the one being read; frames above
// the depth keep their memory for the next directories.
struct tree_reader::walk {
  std::vector<frame> frames;
  std::size_t depth = 0;

  bool empty() const { return depth == 0; }
  frame& top() { return frames[depth - 1]; }
  void push(int fd, dev_t dev, ino_t ino, const dir_batch& batch) {
    if (depth == frames.size()) frames.emplace_back();
    frames[depth++].take(fd, dev, ino, batch);
  }
  void pop() { frames[--depth].fd.reset(-1); }
  void clear() {
    while (depth) pop();
  }
};

tree_reader::tree_reader(std::string root) : root_(std::move(root)), stack_(std::make_unique<walk>()) {
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {
    // No thread to be had (a process limit): the scan reads each directory
    // itself when it needs it, as the reader would have.
  }
}

tree_reader::~tree_reader() {
  {
    std::lock_guard lock(m_);
    stop_ = true;
  }
  room_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::unique_ptr<tree_item> tree_reader::next() {
  if (!thread_.joinable()) {
    // Without a thread the queue is empty whenever the scan asks, so the
    // reading never waits for room.
    while (queue_.empty() && !done_) step();
  }
  std::unique_lock lock(m_);
  ready_.wait(lock, [this] { return !queue_.empty() || done_; });
  if (queue_.empty()) return nullptr;
  std::unique_ptr<tree_item> item = std::move(queue_.front());
  queue_.pop_front();
  queued_bytes_ -= bytes_of(*item);
  lock.unlock();
  room_.notify_one();
  return item;
}

void tree_reader::recycle(std::unique_ptr<tree_item> item) {
  if (!item || bytes_of(*item) > SPARE_BYTES) return;
  std::lock_guard lock(m_);
  if (spare_.size() < SPARE_ITEMS) spare_.push_back(std::move(item));
}

std::unique_ptr<tree_item> tree_reader::fresh() {
  std::unique_ptr<tree_item> item;
  {
    std::lock_guard lock(m_);
    if (!spare_.empty()) {
      item = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  if (!item) return std::make_unique<tree_item>();
  item->what = tree_item::kind::listing;
  item->depth = item->index = 0;
  item->batch.clear();
  return item;
}

// False when the scan no longer wants the reading.
bool tree_reader::put(std::unique_ptr<tree_item> item) {
  const std::size_t bytes = bytes_of(*item);
  {
    std::unique_lock lock(m_);
    room_.wait(lock, [&] { return stop_ || queue_.empty() || queued_bytes_ + bytes <= QUEUE_BYTES; });
    if (stop_) return false;
    queued_bytes_ += bytes;
    queue_.push_back(std::move(item));
  }
  ready_.notify_one();
  return true;
}

void tree_reader::run() {
  while (step()) {
  }
}

// Reads one directory (or goes back up from one); false, with the reading
// marked done, after the last.
bool tree_reader::step() {
  walk& stack = *stack_;
  bool more;
  if (!rooted_) {
    rooted_ = true;
    read_root(stack);
    more = !stack.empty();
  } else {
    more = !stack.empty() && read_next(stack) && !stack.empty();
  }
  if (more) return true;
  stack.clear();
  {
    std::lock_guard lock(m_);
    done_ = true;
  }
  ready_.notify_all();
  return false;
}

void tree_reader::read_root(walk& stack) {
  std::unique_ptr<tree_item> item = fresh();
  open_how how;
  how.follow = true;
  UniqueFd fd(open_dir_for_listing(AT_FDCWD, root_.c_str(), how, item->batch));
  struct stat st {};
  if (fd && fstat(fd.get(), &st) != 0) {
    item->batch.failed_call = "chdir";
    item->batch.error = errno;
  }
  if (!item->batch.failed_call) read_dir_batch(fd.get(), item->batch, scratch_);
  if (!item->batch.failed_call) stack.push(fd.release(), st.st_dev, st.st_ino, item->batch);
  if (!put(std::move(item))) stack.clear();
}

// Reads the next subdirectory of the innermost directory, or goes back up
// from it; false when the reading ends early.
bool tree_reader::read_next(walk& stack) {
  frame& top = stack.top();
  if (top.next == top.subs.size()) return ascend(stack);
  const frame::sub s = top.subs[top.next++];
  std::unique_ptr<tree_item> item = fresh();
  item->depth = stack.depth;
  item->index = s.index;
  open_how how;
  how.searchable = (s.mode & SEARCH_BY_ALL) == SEARCH_BY_ALL;
  UniqueFd fd(open_dir_for_listing(top.fd.get(), top.names.c_str() + s.name, how, item->batch));
  if (fd) read_dir_batch(fd.get(), item->batch, scratch_);
  if (fd && !item->batch.failed_call) {
    // The directory's own status is its entry's in the parent; if it was
    // replaced in between, going back up through it fails cleanly.
    stack.push(fd.release(), s.dev, s.ino, item->batch);
    if (stack.depth > OPEN_LISTINGS) stack.frames[stack.depth - 1 - OPEN_LISTINGS].fd.reset(-1);
  }
  return put(std::move(item));
}

// Done with the innermost directory: back to its parent, opened again if
// the window had closed it. False when that fails (the scan reports it) or
// the scan stopped.
bool tree_reader::ascend(walk& stack) {
  if (stack.depth >= 2 && !stack.frames[stack.depth - 2].fd) {
    frame& parent = stack.frames[stack.depth - 2];
    parent.fd.reset(reopen_parent(stack.top().fd.get(), parent.dev, parent.ino));
    const int error = errno;
    std::unique_ptr<tree_item> item = fresh();
    item->what = tree_item::kind::ascent;
    item->depth = stack.depth - 2;
    if (!parent.fd) {
      item->batch.failed_call = "chdir";
      item->batch.error = error;
    }
    const bool ok = static_cast<bool>(parent.fd);
    if (!put(std::move(item)) || !ok) return false;
  }
  stack.pop();
  return true;
}

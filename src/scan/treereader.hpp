// A thread that reads a package tree ahead of the scan: every directory in
// the order the scan visits them (depth first, names in byte order), each
// handed over whole with its entries' status, through a queue of bounded
// size. It only reads; what becomes of an entry is the scan's decision,
// which may drop what was read ahead.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "scan/dirread.hpp"

/// Directories held open at once by a walk: the innermost ones, so a tree
/// of any depth needs no more descriptors than this. An outer directory is
/// opened again through ".." of the one below it.
inline constexpr std::size_t OPEN_LISTINGS = 32;

/// What the reader hands over, in walk order.
struct tree_item {
  enum class kind {
    listing,  ///< a directory's entries, or why it could not be listed
    ascent,   ///< the walk went back up to a directory it had closed
  };
  kind what = kind::listing;
  std::size_t depth = 0;  ///< of the directory (the package root is 0)
  std::size_t index = 0;  ///< listing: its entry's position in its parent's batch
  dir_batch batch;        ///< ascent: only the failure, if it could not be opened again
};

class tree_reader {
 public:
  /// Starts reading the tree of the directory `root` (a full path; a
  /// symbolic link there is followed).
  explicit tree_reader(std::string root);
  /// Stops the reading where it is.
  ~tree_reader();
  tree_reader(const tree_reader&) = delete;
  tree_reader& operator=(const tree_reader&) = delete;

  /// The next item in walk order, waiting for it; null after the last.
  std::unique_ptr<tree_item> next();
  /// An item the scan is done with, its memory kept for the next ones.
  void recycle(std::unique_ptr<tree_item> item);

 private:
  struct frame;
  struct walk;

  void run();
  bool step();
  void read_root(walk& stack);
  bool read_next(walk& stack);
  bool ascend(walk& stack);
  std::unique_ptr<tree_item> fresh();
  bool put(std::unique_ptr<tree_item> item);

  const std::string root_;
  // The reading's own state, touched only by whoever reads: the thread,
  // or the scan itself when there is none.
  std::unique_ptr<walk> stack_;
  bool rooted_ = false;
  std::vector<char> scratch_;

  std::mutex m_;
  std::condition_variable room_, ready_;
  std::deque<std::unique_ptr<tree_item>> queue_;
  std::vector<std::unique_ptr<tree_item>> spare_;
  std::size_t queued_bytes_ = 0;
  bool done_ = false;
  bool stop_ = false;
  std::thread thread_;  ///< started once everything else is made; none if none could be had
};

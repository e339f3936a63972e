#include "model/index.hpp"

#include <fnmatch.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string>
#include <utility>

bool qsbscb_file_hname(dfileptr_t a, dfileptr_t b) { return a->nm.hash < b->nm.hash; }
bool qsbscb_file_hpath(dfileptr_t a, dfileptr_t b) { return a->path.hash < b->path.hash; }
bool qsbscb_dir_hpath(dfileptr_t a, dfileptr_t b) { return a->path.hash < b->path.hash; }
bool qsbscb_file_habs(dfileptr_t a, dfileptr_t b) { return a->abs.hash < b->abs.hash; }
bool qsbscb_dir_habs(dfileptr_t a, dfileptr_t b) { return a->abs.hash < b->abs.hash; }
bool qsbscb_file_inode(dfileptr_t a, dfileptr_t b) { return a->ino < b->ino; }
bool qsbscb_file_path(dfileptr_t a, dfileptr_t b) { return a->path.sv() < b->path.sv(); }
bool qsbscb_dir_path(dfileptr_t a, dfileptr_t b) { return a->path.sv() < b->path.sv(); }

namespace {

// The arrays are ordered by (hash, text), equal texts in creation order, so
// one bisection over both finds the first entry of a text however many
// other texts share its hash; the text is compared only among equal hashes.
template <class Field>
auto before_key(Field field) {
  return [field](dfileptr_t e, const std::pair<std::uint32_t, std::string_view>& k) {
    const path_t& p = (*e).*field;
    return p.hash != k.first ? p.hash < k.first : p.sv() < k.second;
  };
}

std::vector<dfileptr_t>::const_iterator first_of(std::string_view key,
                                                 const std::vector<dfileptr_t>& index,
                                                 path_t attrent::*field) {
  return std::lower_bound(index.begin(), index.end(), std::pair{mkhashval(key), key},
                          before_key(field));
}

dfileptr_t find_in(std::string_view key, const std::vector<dfileptr_t>& index,
                   path_t attrent::*field) {
  if (index.empty()) return nullptr;
  auto it = first_of(key, index, field);
  return it != index.end() && ((**it).*field).sv() == key ? *it : nullptr;
}

// Items of at most this many are left to a comparison sort.
constexpr std::size_t MIN_BUCKETED = 64;
constexpr int DIGIT_BITS = 8;
constexpr std::size_t DIGITS = std::size_t{1} << DIGIT_BITS;

template <class Item>
bool item_less(const Item& a, const Item& b) {
  return a.key != b.key ? a.key < b.key : a.pos < b.pos;
}

// Moves the items of [first, last) in place into the buckets of one digit
// (eight bits of key - lo from `shift` on), then orders each bucket by the
// next digit down, until buckets are small or the key's bits are used up.
// Eight bits keep the bucket heads of one pass in the first-level cache,
// which a single pass over more bits would not; every item is moved about
// once a level.
template <class Item>
void sort_by_digits(Item* first, Item* last, decltype(Item::key) lo, int shift) {
  auto digit = [lo, shift](const Item& it) {
    return static_cast<std::size_t>(((it.key - lo) >> shift) & (DIGITS - 1));
  };
  std::size_t next[DIGITS + 1] = {}, end[DIGITS];
  for (const Item* it = first; it != last; ++it) ++next[digit(*it) + 1];
  for (std::size_t b = 0; b < DIGITS; ++b) end[b] = next[b + 1] += next[b];
  for (std::size_t b = 0; b < DIGITS; ++b) {
    while (next[b] < end[b]) {
      Item v = first[next[b]];
      for (std::size_t d = digit(v); d != b; d = digit(v)) std::swap(v, first[next[d]++]);
      first[next[b]++] = v;
    }
  }
  for (std::size_t b = 0, start = 0; b < DIGITS; start = end[b++]) {
    const std::size_t n = end[b] - start;
    if (n > MIN_BUCKETED && shift > 0)
      sort_by_digits(first + start, first + end[b], lo, std::max(shift - DIGIT_BITS, 0));
    else if (n > 1)
      std::sort(first + start, first + end[b], item_less<Item>);
  }
}

// Orders (key, position) items by key, then position, by buckets of the
// key's digits from the highest bit of its range down (a comparison sort of
// a million items makes twenty passes over them). No two items are equal,
// as positions differ, so the order is the one any sort by (key, position)
// gives, also when keys crowd into a few buckets and the bucket sorts do
// the work.
template <class Item>
void sort_items(std::vector<Item>& items) {
  if (items.size() <= MIN_BUCKETED) {
    std::sort(items.begin(), items.end(), item_less<Item>);
    return;
  }
  auto [lo, hi] = std::minmax_element(
      items.begin(), items.end(), [](const Item& a, const Item& b) { return a.key < b.key; });
  using key_t = decltype(Item::key);
  const int width = static_cast<int>(std::bit_width(static_cast<key_t>(hi->key - lo->key)));
  sort_by_digits(items.data(), items.data() + items.size(), lo->key, std::max(width - DIGIT_BITS, 0));
}

// dst = src sorted by key(entry), entries with equal keys in creation
// order; with `text`, entries with equal keys (hashes) are ordered by that
// text first. The (key, position) pairs are sorted in one contiguous array
// instead of following two entry pointers per comparison, which is what
// makes sorting a million entries cheap; the position also fixes the order
// of equal keys, so every run orders them the same way. A path hash and a
// 32-bit position make an 8-byte pair, so the scratch array costs a third
// of what a pointer-sized position would at the moment memory peaks.
template <class Pos, class Key>
void sorted_copy_by(std::vector<dfileptr_t>& dst, const std::vector<dfileptr_t>& src, Key key,
                    path_t attrent::*text) {
  using key_t = decltype(key(src[0]));
  struct item {
    key_t key;
    Pos pos;
  };
  std::vector<item> items(src.size());
  for (std::size_t i = 0; i < src.size(); ++i) items[i] = {key(src[i]), static_cast<Pos>(i)};
  sort_items(items);
  dst.resize(src.size());
  dst.shrink_to_fit();
  for (std::size_t i = 0; i < items.size(); ++i) dst[i] = src[items[i].pos];
  if (!text) return;
  // Runs of one hash are rare and short on real trees; a pass over the
  // pairs finds them without touching the entries.
  for (std::size_t i = 0, j; i < items.size(); i = j) {
    for (j = i + 1; j < items.size() && items[j].key == items[i].key;) ++j;
    if (j - i > 1)
      std::stable_sort(dst.begin() + i, dst.begin() + j,
                       [text](dfileptr_t a, dfileptr_t b) { return ((*a).*text).sv() < ((*b).*text).sv(); });
  }
}

template <class Key>
void sorted_copy(std::vector<dfileptr_t>& dst, const std::vector<dfileptr_t>& src, Key key,
                 path_t attrent::*text = nullptr) {
  if (src.size() <= UINT32_MAX)
    sorted_copy_by<std::uint32_t>(dst, src, key, text);
  else
    sorted_copy_by<std::size_t>(dst, src, key, text);
}

std::uint32_t name_hash(dfileptr_t e) { return e->nm.hash; }
std::uint32_t path_hash(dfileptr_t e) { return e->path.hash; }
std::uint32_t abs_hash(dfileptr_t e) { return e->abs.hash; }
std::uint64_t inode(dfileptr_t e) { return e->ino; }

}  // namespace

dfileptr_t find_path_in_flist(std::string_view path, const std::vector<dfileptr_t>& index) {
  return find_in(path, index, &attrent::path);
}
dfileptr_t find_path_in_dlist(std::string_view path, const std::vector<dfileptr_t>& index) {
  return find_in(path, index, &attrent::path);
}
dfileptr_t find_abspath_in_flist(std::string_view path, const std::vector<dfileptr_t>& index) {
  return find_in(path, index, &attrent::abs);
}
dfileptr_t find_abspath_in_dlist(std::string_view path, const std::vector<dfileptr_t>& index) {
  return find_in(path, index, &attrent::abs);
}
dfileptr_t find_name_in_flist(std::string_view name, const std::vector<dfileptr_t>& index) {
  return find_in(name, index, &attrent::nm);
}

std::vector<dfileptr_t> find_all_path_in_flist(std::string_view path,
                                               const std::vector<dfileptr_t>& index) {
  std::vector<dfileptr_t> out;
  for (auto it = first_of(path, index, &attrent::path); it != index.end() && (*it)->path.sv() == path; ++it)
    out.push_back(*it);
  return out;
}

strnode* find_match_in_strlist(const char* name, const strlist& list) {
  for (strnode& n : list)
    if (fnmatch(n.str.c_str(), name, n.flags ? FNM_PATHNAME : 0) == 0) return &n;
  return nullptr;
}

attrent* find_alist(const char* name, std::vector<attrent>& patterns, std::size_t* index) {
  for (std::size_t i = index ? *index : 0; i < patterns.size(); ++i) {
    attrent& p = patterns[i];
    int flags = (p.aflags & af::PATHMATCH) ? FNM_PATHNAME : 0;
    // fnmatch needs a terminated pattern; a path_t may end inside a longer text.
    const char* pattern = p.path.str;
    std::string copy;
    if (pattern[p.path.len] != '\0') pattern = (copy = std::string(p.path.sv())).c_str();
    if (fnmatch(pattern, name, flags) != 0) continue;
    if (find_match_in_strlist(name, p.except)) continue;
    if (index) *index = i;
    return &p;
  }
  return nullptr;
}

// A scan lists each directory in byte order, so its entries mostly come in
// path order already; one pass finds that out, and the sort, with its
// comparisons of long common prefixes, is then left out.
template <class Less>
void stable_sort_unless_sorted(std::vector<dfileptr_t>& v, Less less) {
  if (!std::is_sorted(v.begin(), v.end(), less)) std::stable_sort(v.begin(), v.end(), less);
}

void sort_package_by_path(pkgptr_t pkg) {
  stable_sort_unless_sorted(pkg->files, qsbscb_file_path);
  stable_sort_unless_sorted(pkg->dirs, qsbscb_dir_path);
}

void package_resize_and_sort(pkgptr_t pkg) {
  pkg->dirs.shrink_to_fit();
  pkg->files.shrink_to_fit();
  sorted_copy(pkg->dirs_path, pkg->dirs, path_hash, &attrent::path);
  sorted_copy(pkg->files_inode, pkg->files, inode);
  sorted_copy(pkg->files_path, pkg->files, path_hash, &attrent::path);
}

void resize_and_sort_lists() {
  if (!model.files.empty()) sorted_copy(model.files_path, model.files, path_hash, &attrent::path);
}

void take_declared_snapshot() {
  model.have_snapshot = true;
  if (!model.files.empty()) {
    model.t_files = model.files;
    sorted_copy(model.t_files_nm, model.files, name_hash, &attrent::nm);
    sorted_copy(model.t_files_path, model.files, path_hash, &attrent::path);
    sorted_copy(model.t_files_abs, model.files, abs_hash, &attrent::abs);
  }
  if (!model.dirs.empty()) {
    model.t_dirs = model.dirs;
    sorted_copy(model.t_dirs_path, model.dirs, path_hash, &attrent::path);
    sorted_copy(model.t_dirs_abs, model.dirs, abs_hash, &attrent::abs);
  }
}

void drop_declared_snapshot() {
  model.have_snapshot = false;
  for (auto* v : {&model.t_files, &model.t_files_nm, &model.t_files_path, &model.t_files_abs,
                  &model.t_dirs, &model.t_dirs_path, &model.t_dirs_abs})
    std::vector<dfileptr_t>().swap(*v);
}

// Sorted indexes over the model's entries: arrays of entry pointers sorted
// by a path hash, entries of equal hashes by the path's text, and searched
// by bisection. Equal hashes are told apart by the text, so a lookup never
// returns an entry with a different path, and many paths of one hash cost
// a bisection too.
#pragma once

#include <string_view>
#include <vector>

#include "model/model.hpp"

// Sort orders (strict weak orderings for std::sort).
bool qsbscb_file_hname(dfileptr_t a, dfileptr_t b);
bool qsbscb_file_hpath(dfileptr_t a, dfileptr_t b);
bool qsbscb_dir_hpath(dfileptr_t a, dfileptr_t b);
bool qsbscb_file_habs(dfileptr_t a, dfileptr_t b);
bool qsbscb_dir_habs(dfileptr_t a, dfileptr_t b);
bool qsbscb_file_inode(dfileptr_t a, dfileptr_t b);
bool qsbscb_file_path(dfileptr_t a, dfileptr_t b);
bool qsbscb_dir_path(dfileptr_t a, dfileptr_t b);

/// The entry of `index` (sorted by installed-path hash) whose installed path is `path`.
dfileptr_t find_path_in_flist(std::string_view path, const std::vector<dfileptr_t>& index);
dfileptr_t find_path_in_dlist(std::string_view path, const std::vector<dfileptr_t>& index);
/// The entry of `index` (sorted by build-path hash) whose full path is `path`.
dfileptr_t find_abspath_in_flist(std::string_view path, const std::vector<dfileptr_t>& index);
dfileptr_t find_abspath_in_dlist(std::string_view path, const std::vector<dfileptr_t>& index);
/// The entry of `index` (sorted by name hash) whose base name is `name`.
dfileptr_t find_name_in_flist(std::string_view name, const std::vector<dfileptr_t>& index);

/// Every entry of `index` (sorted by installed-path hash) whose path is `path`.
std::vector<dfileptr_t> find_all_path_in_flist(std::string_view path,
                                               const std::vector<dfileptr_t>& index);

/// The first pattern from position `index` on that matches `name` and none
/// of its exceptions; its position is stored in `index`. Null when none.
attrent* find_alist(const char* name, std::vector<attrent>& patterns, std::size_t* index);
/// The first node of `list` whose pattern matches `name`, or null.
strnode* find_match_in_strlist(const char* name, const strlist& list);

/// Orders a package's files and directories by installed path, equal paths
/// keeping their order: the output order of every backend.
void sort_package_by_path(pkgptr_t pkg);
/// Trims a package's arrays and rebuilds its sorted copies.
void package_resize_and_sort(pkgptr_t pkg);
/// Rebuilds the global sorted index `model.files_path` from `model.files`.
void resize_and_sort_lists();
/// Takes the snapshot of what the control file declared (t_* arrays).
void take_declared_snapshot();
/// Drops that snapshot.
void drop_declared_snapshot();

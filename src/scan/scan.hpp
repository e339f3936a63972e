// Turning one package directory of the dist tree into model records.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/model.hpp"

/// Scans the package directory `name` of the dist directory (null: flat mode).
void process_package(const char* name);
/// Lists directory `dir` into the model; 1 when the package's scan must stop.
int process_package_dir(dfileptr_t dir, int level);
/// 1 when `list` holds the path `path`.
int check_remlist(const strlist& list, std::string_view path);
/// 1 when the wildcard list removes `name`.
int check_remlist_wc(const strelist& list, const char* name);
/// 1 when a symbolic link's target is scheduled for removal.
int check_target_removed(pkgptr_t pkg, const char* target_in_package, const char* target_in_dist);
/// Applies one attribute pattern to an entry.
void set_com_attrs(dfileptr_t entry, attrent* pattern, pkgptr_t pkg);
void set_file_attrs(dfileptr_t file);
void set_dir_attrs(dfileptr_t dir);
/// A format export expanded for one entry: "%s", "%N$s" (N 1 to 8) with
/// optional "-", width and precision take the eight texts, "%%" is "%";
/// any other directive stays as written.
std::string expand_export_format(std::string_view format, const std::string_view (&args)[8]);

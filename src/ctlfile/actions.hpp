// What each control-file statement does to the settings and the model.
// The grammar calls one function per statement; a false result makes the
// parse fail. Every function first asks whether statements act (the
// conditions, and for model statements the second pass).
#pragma once

#include <cstdint>
#include <string>

#include "ctlfile/reader.hpp"

/// The relation lists a requires()-like statement adds to ("requires" is a C++ keyword).
enum class rel { requires_, dependency, upgrades, replaces, subpackage };

// Settings and conditionals (both passes).
void act_define(CtlReader& rd, const std::string& name, const std::string& value, int eval);
/// ifdef (want 1) / ifndef (want 0).
void act_ifdef(CtlReader& rd, const std::string& name, int want);
/// ifeq (want 1) / ifneq (want 0).
void act_ifeq(CtlReader& rd, const std::string& name, const std::string& text, int want);
/// Records a want_value of `parts` numbers as the version and its text.
void act_want_value(CtlReader& rd, int parts, int a, int b, int c);
void act_want(CtlReader& rd);
void act_want_backend(CtlReader& rd, const std::string& name);
void act_error(CtlReader& rd, const std::string& text);
void act_warning(CtlReader& rd, const std::string& text);
void act_backend(CtlReader& rd, const std::string& name);
void act_set(CtlReader& rd, const std::string& name, const std::string& value);
void act_set_number(CtlReader& rd, const std::string& name, int value);
void act_include(CtlReader& rd, const std::string& name);

// Product-level statements.
void act_vendor(CtlReader& rd, const std::string& text);
void act_verbatim(CtlReader& rd, const std::string& text);
void act_mandir(CtlReader& rd, const std::string& dir);
void act_relation(CtlReader& rd, rel list, const std::string& name, const std::string& value);
void act_remove(CtlReader& rd, const std::string& path);
/// removeany(); with `body` its except list takes the except() statements that follow.
void act_removeany(CtlReader& rd, const std::string& pattern, int pathmatch, bool body);
void act_removeany_end(CtlReader& rd);
void act_except(CtlReader& rd, const std::string& pattern, int pathmatch);
void act_target(CtlReader& rd, const std::string& text, int flag);

// Blocks.
void act_package_open(CtlReader& rd, const std::string& dir, const std::string& desc,
                      const std::string& name, const std::string& extra);
void act_package_close(CtlReader& rd);
bool act_component_open(CtlReader& rd, const std::string& name, const std::string& version,
                        const std::string& desc, const std::string& extra);
void act_component_close(CtlReader& rd);
void act_prep_open(CtlReader& rd, const std::string& name);
void act_prep_close(CtlReader& rd);
/// file() / directory() in a package body, `create` when asked.
void act_entry_open(CtlReader& rd, const std::string& name, int create, EntryKind kind);
/// allfiles() / alldirs(): an attribute pattern of the package or the top level.
bool act_pattern_open(CtlReader& rd, const std::string& pattern, int pathmatch, EntryKind kind);
bool act_symlink_open(CtlReader& rd, int create, int isdir, const std::string& name,
                      const std::string& target);
void act_entry_close(CtlReader& rd);

// Attribute statements on the entry or pattern being described.
void act_owner(CtlReader& rd, const std::string& name);
void act_group(CtlReader& rd, const std::string& name);
/// mode(); a number whose digits were not all octal is refused.
void act_mode(CtlReader& rd, int mode, bool octal_digits);
void act_access(CtlReader& rd, access_kind access);
void act_export(CtlReader& rd, phase_kind phase);
void act_ssoprivate(CtlReader& rd);
/// exportlinks(), exportok(), linkok(): one af:: bit.
void act_attrflag(CtlReader& rd, std::uint32_t bit);
void act_flags(CtlReader& rd, const std::string& text);
void act_addexport(CtlReader& rd, const std::string& dest, int a_phase);
bool act_exportall(CtlReader& rd, const std::string& dest, int a_phase, int recursive, bool body);
void act_exportall_end(CtlReader& rd);
void act_convert(CtlReader& rd, const std::string& name, int a_phase);
bool act_includes(CtlReader& rd, const std::string& text);

// Prep-phase statements.
void act_auto_mansource(CtlReader& rd);
void act_auto_texinfo(CtlReader& rd);
void act_autostrip(CtlReader& rd, int strip, int mcs, const std::string& text);
void act_format_mansource(CtlReader& rd, const std::string& dir);
void act_compress_texinfo(CtlReader& rd, const std::string& dir);
void act_exists(CtlReader& rd, const std::string& path, int warnonly);

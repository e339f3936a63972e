#include "backend/checks.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include "common/diag.hpp"
#include "model/settings.hpp"

void set_output_directory(std::string dir) {
  opts.pkgdir = std::move(dir);
  const char* path = opts.pkgdir->c_str();
  // A plain file of that name passes the access test but could never hold
  // the output files, so it is refused here rather than at the first write.
  struct stat st;
  if (access(path, R_OK | W_OK) != 0 || stat(path, &st) != 0 || !S_ISDIR(st.st_mode))
    error("output directory `%s' does not exist or is not writeable.\n", path);
}

void report_missing_link_target(const package& pkg, const dfile& link, std::string_view target) {
  error("the symbolic link `%s' points to the target `%s', which was not found in the current "
        "package (`%s'). The most likely cause of this is that the target was removed by a "
        "remove() or removeall() directive. If that is the case, then you must either not "
        "remove the target, or you must remove this symbolic link as well. If this is not the "
        "result of a removed file, then you either have an error in your distribution tree, or "
        "you are attempting to create a symbolic link to a file outside of the current package, "
        "which is not supported.\n",
        std::string(link.path.sv()).c_str(), std::string(target).c_str(), pkg.name.c_str());
}

void check_dependency_descriptions(const component& c, const char* backend_name) {
  for (const varnode& n : c.replaces)
    if (n.value.empty())
      error("In component `%s', the superceding dependency `%s' lacks a description. This is "
            "required by the `%s' backend driver. Please edit the control file and add a "
            "description.\n",
            c.name.c_str(), n.name.c_str(), backend_name);
  for (const varnode& n : c.dependency)
    if (n.value.empty())
      error("In component `%s', the dependency `%s' lacks a description. This is required by "
            "the `%s' backend driver. Please edit the control file and add a description.\n",
            c.name.c_str(), n.name.c_str(), backend_name);
}

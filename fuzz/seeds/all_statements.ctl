# Every statement in the block it may stand in.
want(2, 1)
want("xml", 1, 0, 0)
set("flat-mode", 0)
set("product-code", "PRD")
backend("xml")
vendor("V")
requires("R", "1")
verbatim("top")
mandir("/usr/man")
define("A", "a\$b \"q\" \\ ${HOME} ${X")
define("B", "\${A}", eval)
ifdef("A") ifndef("B") else endif ifeq("A", "x") ifneq("B", "y") endif endif endif
include("inc.ctl");
allfiles("*.conf", pathmatch) { mode(0644) owner("root") group("nosuchgroup") except("x.conf") }
alldirs("*/etc") { mode(755) exportall("d", early, no) { except("y") } except("z") }
prepare("p") {
  auto_compress_texinfo() auto_format_mansource() auto_strip(yes, no, "c")
  compress_texinfo("info") format_mansource("man/man1") exists("x", yes)
  remove("/r") removeany("*.o") { except("keep.o") }
}
package("/p", "Pkg ${CORVANE_THISPKG_NAME}", "pkg", "extra") {
  create file("/etc/f") { mode(600); includes("text"); linkok(); convert("c", normal); flags("a") flags("b") }
  create directory("/var/d") { exportall("x", early) ssoprivate() exportlinks() exportok() }
  symlink(directory, "/l"); { }
  create symlink(file, "/lf", "/target") { export(early) addexport("a", normal) access(server) }
  requires("q") dependency("d") upgrades("u") replaces("r") subpackage("s") verbatim("v")
  target("t", yes) export(never) access(client) remove("/x") removeany("*.a", pathmatch)
  allfiles("*") { exportok() } alldirs("*") { flags("f") }
  print("${CORVANE_THISPKG_SUBDIR}") exec("true") sh("true")
}
package("", "Meta", "meta") { }
component("c", "1.0", "Comp") {
  replaces("a") upgrades("b") requires("c") dependency("d") subpackage("pkg") verbatim("${CORVANE_THISCMPNT_NAME}")
}
script("EOF", EOF
echo "$CORVANE_PRODUCT" # raw body
EOF
)
warning("done")

# Macros that double, refer to themselves and to each other, and modes.
define("M0", "ab")
define("M1", "${M0}${M0}")
define("M2", "${M1}${M1}")
define("A", "a\${B}")
define("B", "b\${A}")
define("A", "${A}", eval)
define("S", "${S}\${S}", eval)
ifeq("M2", "${M2}")
  print("${M2}")
endif
package("/p", "d", "P") {
  file("/f") { mode(755) }
  file("/g") { mode(759) }
  file("/h") { mode(+10) }
}

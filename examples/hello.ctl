# Control file of the example product: the hello tools, two packages in one
# component. BASE is the directory that holds dist/:
#
#   mkxmlpkg -d BASE -P HELLO -V 1.0 -D "Hello tools" -p examples/hello.ctl
#
# -M RELEASE=n sets the release number shown in the package descriptions;
# -M MANSOURCE keeps the unformatted manual page in the package.

want(2, 1, 0)
want("xml", 1, 0, 0)

prepare("state directory") {
  exec("mkdir -p '${CORVANE_DISTDIR}/hello-1.0/var/hello'")
}

ifndef("RELEASE")
  define("RELEASE", "1")
endif

ifdef("MANSOURCE")
  set("include-man-source", 1)
endif

# Configuration files anywhere in the product belong to the user.
allfiles("*.conf") {
  access(client)
  mode(644)
}

package("/hello-1.0", "Hello tools, release ${RELEASE}", "HELLO") {
  file("/usr/bin/hello") {
    mode(755)
    owner("root")
    group("bin")
  }
  # The library must be there before anything else of the product runs.
  file("/usr/lib/libhello.so.1") {
    mode(555)
    export(early)
  }
  symlink(file, "/usr/lib/libhello.so") {
    export(early)
  }
  # Where hello keeps its state: the build leaves it out, the prep phase
  # at the top makes it.
  create directory("/var/hello") {
    mode(755)
    access(client)
  }
  verbatim("<!-- ${CORVANE_THISPKG_NAME}: built from ${CORVANE_THISPKG_SUBDIR} -->")
}

package("/greet-0.3", "Greetings for the hello tools, release ${RELEASE}", "GREET") {
  requires("HELLO")
  file("/usr/bin/greet") {
    mode(755)
  }
  # The README repeats the manual page; it is not installed.
  remove("/usr/share/doc")
}

component("hello", "${CORVANE_VERSION}", "${CORVANE_DESCRIPTION}") {
  subpackage("HELLO")
  subpackage("GREET")
}

print("control file read: ${CORVANE_PRODUCT} ${CORVANE_VERSION} release ${RELEASE}")

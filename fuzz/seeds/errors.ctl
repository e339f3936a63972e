print("a") ifdef("X") package("/p","d","p") { endif file("/f") { mode(18) } }
include("self.ctl"); include("d1.ctl"); include("missing.ctl");
ifndef("Y")

// Runs the current test in a copy of the test program placed in a folder of
// its own. The engine keeps a program's upgrade state beside the program, and
// CTest runs the cases of one test program as parallel processes: a case that
// upgrades must not share that state with the others (another case's
// component would install, or remove, what this one committed).
//
//   TEST_F(Suite, Case) {
//     if (kvtest::RanInOwnProgram()) return;  // the copy ran the case; its result is this one's
//     ...
//   }
#pragma once

namespace kvtest {

// In the test program as started: runs the current case in a fresh copy,
// fails the case when the copy's run did not pass, and returns true. In the
// copy: returns false, so the case runs there.
bool RanInOwnProgram();

}  // namespace kvtest

#!/usr/bin/env python3
"""Prints the records of a valgrind log whose stacks pass through kelpie's own
code (the MEX file, the gateway or the solver) and exits 1 when there are any.
Octave's own leaks and errors at exit are not kelpie's and are counted apart."""
import re
import sys

OURS = re.compile(r"kelpie|mexFunction|solve_box_qp|gateway_checks|box_qp\.cpp|block_exchange|factor_from_scratch|ldl_factor|newton_step|optimality|projected_search|proximal_steps|workspace\.cpp")

def records(lines):
    record = []
    for line in lines:
        body = re.sub(r"^==\d+== ?", "", line.rstrip("\n"))
        if body == "":
            if record:
                yield record
            record = []
        else:
            record.append(body)
    if record:
        yield record

def main(path):
    with open(path, errors="replace") as log:
        found = [r for r in records(log) if any(OURS.search(l) for l in r[1:]) and
                 re.match(r"(Invalid|Conditional|Use of|Syscall|Mismatched|.*lost in loss record|Source and destination)", r[0])]
    with open(path, errors="replace") as log:
        summary = [l.strip() for l in log if "ERROR SUMMARY" in l]
    for r in found:
        print("\n".join(r) + "\n")
    print(f"valgrind: {len(found)} record(s) through kelpie's code; whole process: {summary[-1] if summary else '?'}")
    return 1 if found else 0

if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))

# Run by CTest in place of the test suite when GoogleTest was not found at
# configure time: a test run must fail, and say why, rather than pass empty.
message(FATAL_ERROR "GoogleTest is missing: install it (Debian: apt-get install libgtest-dev "
                    "libgmock-dev) and configure again; the tests were left out.")

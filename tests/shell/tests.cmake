# Starts the real program, which reads the test session's keyring at launch: it never runs beside
# the test that stores a token there for a moment (see tests/uploads/tests.cmake).
set_tests_properties(shell_KestrovaProcess_test PROPERTIES RESOURCE_LOCK x11)

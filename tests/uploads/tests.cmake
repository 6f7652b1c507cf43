# The launch check test stores a token in the test session's keyring for a moment; the programs
# other tests start read that keyring at launch, so it never runs beside them (they hold x11).
set_tests_properties(uploads_KestrovaCloudPreview_test PROPERTIES RESOURCE_LOCK x11)
# Stands in for the desktop's notification server, whose one bus name the tests take in turn.
set_tests_properties(uploads_FileUploaderSecure_test PROPERTIES RESOURCE_LOCK notifications)

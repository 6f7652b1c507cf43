# Tests that stand in for the desktop's notification server take its one bus name in turn.
set_tests_properties(platform_DesktopNotifications_test PROPERTIES RESOURCE_LOCK notifications)

# The preview's layout once more at a device pixel ratio of 2, as on a HiDPI screen.
add_test(NAME screenshots_PreviewLayout_x11_test_ratio2 COMMAND screenshots_PreviewLayout_x11_test)
set_tests_properties(screenshots_PreviewLayout_x11_test_ratio2 PROPERTIES
  ENVIRONMENT "QT_QPA_PLATFORM=xcb;QT_SCALE_FACTOR=2" LABELS "x11;screenshots" RESOURCE_LOCK x11)

# The frame around a recording once more at fractional and whole device pixel ratios.
foreach(ratio 1.25 1.5 2)
  add_test(NAME recording_RecordingWindowsScaled_x11_test_ratio${ratio} COMMAND recording_RecordingWindowsScaled_x11_test)
  set_tests_properties(recording_RecordingWindowsScaled_x11_test_ratio${ratio} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=xcb;QT_SCALE_FACTOR=${ratio}" LABELS "x11;recording" RESOURCE_LOCK x11)
endforeach()

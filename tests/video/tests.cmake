# The video tests start players, encoders and local servers of their own: each counts for two
# processors, so the suite's timing-sensitive tests keep their share of the machine.
foreach(name GIFConverter_test VideoPreviewWindow_test VideoOwnServerUpload_test VideoYandexUpload_test VideoCloudUpload_test)
  set_tests_properties(video_${name} PROPERTIES PROCESSORS 2)
endforeach()

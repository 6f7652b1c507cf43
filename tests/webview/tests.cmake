# The sign-in view's own tests link its module; everything else loads it as the program does.
foreach(name YandexOAuthWebView_test YandexOAuthCoordinator_test)
  target_link_libraries(webview_${name} PRIVATE kestrova_yandex_webview)
endforeach()

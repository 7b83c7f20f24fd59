# The menu draws the built-in ANSI screens: its library links the embedded
# assets (and so does everything that links the menu).
if(TARGET kavel_menu AND TARGET kavel_assets)
  target_link_libraries(kavel_menu PUBLIC kavel_assets)
endif()

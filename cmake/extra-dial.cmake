# The dialing test under Xvfb times a 15-second dial sound, where Escape lands
# in it and the processor time kavel uses: it runs alone, so that it and the
# other window tests do not slow each other past their bounds on a two-core
# machine.
if(TEST script_dial_e2e_window)
  set_tests_properties(script_dial_e2e_window PROPERTIES RUN_SERIAL TRUE)
endif()

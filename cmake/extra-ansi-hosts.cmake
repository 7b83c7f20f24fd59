# The real-window test of less, nano, top and vttest through telnetd keeps an
# X server, kavel, telnetd and tmux busy for over a minute and compares
# screens as they settle: it runs alone, so that neither it nor the other
# window tests time out waiting on each other on a two-core machine.
if(TEST script_ansi_hosts_window)
  set_tests_properties(script_ansi_hosts_window PROPERTIES RUN_SERIAL TRUE)
endif()

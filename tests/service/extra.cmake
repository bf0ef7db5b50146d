# The reflector and finder commands are tested as the program they run in.
if(TARGET service_test_idletimercmd)
  add_dependencies(service_test_idletimercmd idlix-headless)
endif()

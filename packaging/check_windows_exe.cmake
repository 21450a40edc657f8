# The import check of a Windows build's executable: only system DLLs, nothing
# that could write to another process, and the 32-bit one large-address-aware.
if(MIRVANE_TESTS)
  add_test(NAME windows_exe_imports
    COMMAND sh ${PROJECT_SOURCE_DIR}/packaging/check_windows_exe.sh $<TARGET_FILE:Mirvane> ${CMAKE_OBJDUMP})
endif()

# SPDX-License-Identifier: MIT
# Gives zrvmon.exe a version resource, so Explorer's Properties and installers
# show the same version as `zrvmon --version`; the numbers come from project().
enable_language(RC)

set(ZRV_RC_YEAR 2026)
configure_file(${PROJECT_SOURCE_DIR}/src/setup/zrvmon.rc.in
               ${CMAKE_CURRENT_BINARY_DIR}/zrvmon.rc @ONLY)
target_sources(zrvmon PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/zrvmon.rc)

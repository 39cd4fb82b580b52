# Third-party libraries, cross-built by tools/build-deps.sh into a prefix outside the work tree.
set(QEL_DEPS_PREFIX "$ENV{QEL_DEPS_PREFIX}" CACHE PATH "prefix made by tools/build-deps.sh")
if(NOT EXISTS "${QEL_DEPS_PREFIX}/.complete")
  message(FATAL_ERROR "QEL_DEPS_PREFIX (${QEL_DEPS_PREFIX}) is not a prefix made by tools/build-deps.sh")
endif()

function(qel_import_library target file)
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION "${QEL_DEPS_PREFIX}/lib/${file}")
  target_include_directories(${target} INTERFACE ${ARGN})
endfunction()

qel_import_library(qel::lua liblua52.a "${QEL_DEPS_PREFIX}/include/lua")
qel_import_library(qel::lzmadec liblzmadec.a "${QEL_DEPS_PREFIX}/include/lzma")
qel_import_library(qel::curl libcurl.a "${QEL_DEPS_PREFIX}/include")
target_compile_definitions(qel::curl INTERFACE CURL_STATICLIB)
target_link_libraries(qel::curl INTERFACE ws2_32 crypt32 bcrypt advapi32 winmm)
qel_import_library(qel::gtest libgtest.a "${QEL_DEPS_PREFIX}/include")
qel_import_library(qel::gtest_main libgtest_main.a)
target_link_libraries(qel::gtest_main INTERFACE qel::gtest)

set(QEL_LUAC "${QEL_DEPS_PREFIX}/bin/luac52-i386")
find_program(QEL_7ZZ 7zz REQUIRED)
find_program(QEL_PYTHON /usr/bin/python3 REQUIRED)

# Bundle signatures: the library that reads and checks them, and the public
# key that the bundle's codesign tool trusts, fixed at build time.
#
#   ORVANE_SIGNING_PUBKEY      minisign public key file, or its base64 key line.
#                              Empty: a throwaway development key pair is made in
#                              <build>/signing/ (passwordless, minisign -W).
#   ORVANE_SIGNING_SECRET_KEY  secret key that matches a given public key, for
#                              the release script and the tests (optional).
#
# After this file, ORVANE_SIGNING_PUBKEY_LINE holds the key line built in and
# ORVANE_SIGNING_SECKEY_FILE the secret key that signs for it ("" when unknown).
include_guard(GLOBAL)

set(ORVANE_SIGNING_PUBKEY "" CACHE STRING
    "minisign public key that codesign trusts (file or base64 line); empty makes a development key")
set(ORVANE_SIGNING_SECRET_KEY "" CACHE FILEPATH "minisign secret key matching ORVANE_SIGNING_PUBKEY")

find_program(ORVANE_MINISIGN minisign)

if(ORVANE_SIGNING_PUBKEY STREQUAL "")
  set(dev_dir "${CMAKE_BINARY_DIR}/signing")
  if(NOT EXISTS "${dev_dir}/dev.pub" OR NOT EXISTS "${dev_dir}/dev.key")
    if(NOT ORVANE_MINISIGN)
      message(FATAL_ERROR "minisign is needed to make the development signing key (scripts/setup installs it)")
    endif()
    file(MAKE_DIRECTORY "${dev_dir}")
    execute_process(COMMAND "${ORVANE_MINISIGN}" -G -f -W -p "${dev_dir}/dev.pub" -s "${dev_dir}/dev.key"
                    RESULT_VARIABLE made OUTPUT_QUIET ERROR_VARIABLE why)
    if(NOT made EQUAL 0)
      message(FATAL_ERROR "could not make the development signing key: ${why}")
    endif()
    message(STATUS "Made a development signing key in ${dev_dir}")
  endif()
  set(pubkey_source "${dev_dir}/dev.pub")
  set(seckey "${dev_dir}/dev.key")
else()
  set(pubkey_source "${ORVANE_SIGNING_PUBKEY}")
  set(seckey "${ORVANE_SIGNING_SECRET_KEY}")
endif()

if(EXISTS "${pubkey_source}")
  file(STRINGS "${pubkey_source}" pubkey_lines LIMIT_COUNT 2)
  list(LENGTH pubkey_lines pubkey_count)
  if(pubkey_count EQUAL 2)
    list(GET pubkey_lines 1 pubkey_line)
  else()
    set(pubkey_line "")
  endif()
else()
  set(pubkey_line "${pubkey_source}")
endif()
# "Ed", key id and Ed25519 key: 42 bytes, 56 base64 characters.
if(NOT pubkey_line MATCHES "^RW[A-Za-z0-9+/]+$")
  message(FATAL_ERROR "ORVANE_SIGNING_PUBKEY is not a minisign public key: ${ORVANE_SIGNING_PUBKEY}")
endif()
string(LENGTH "${pubkey_line}" pubkey_length)
if(NOT pubkey_length EQUAL 56)
  message(FATAL_ERROR "ORVANE_SIGNING_PUBKEY is not a minisign public key: ${ORVANE_SIGNING_PUBKEY}")
endif()

set(ORVANE_SIGNING_PUBKEY_LINE "${pubkey_line}" CACHE INTERNAL "minisign key line built into codesign")
set(ORVANE_SIGNING_SECKEY_FILE "${seckey}" CACHE INTERNAL "secret key that signs for the built-in key")

add_library(orvane_signing STATIC
  ${CMAKE_CURRENT_LIST_DIR}/BundleScan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CodeResources.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Minisign.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Sha256.cpp)
target_include_directories(orvane_signing PUBLIC ${CMAKE_CURRENT_LIST_DIR})
# The hex text lives in the core; the bundle scan reads files through the POSIX helpers.
target_link_libraries(orvane_signing PUBLIC orvane_core orvane_posix OpenSSL::Crypto)

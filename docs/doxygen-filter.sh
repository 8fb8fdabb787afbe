#!/bin/sh
# Doxygen's input filter for the public headers: their comments are written
# as plain comments, for the reader of the header; the filter lets Doxygen
# read the same text as documentation. A comment line becomes "///", a C
# comment "/**", and a comment after a declaration on its line "///<".
exec sed -E \
  -e 's@^([[:space:]]*)// ?@\1/// @' \
  -e 's@^([[:space:]]*)/\* @\1/** @' \
  -e 's@([;,{])([[:space:]]*)// @\1\2///< @' \
  -e 's@([;,])([[:space:]]*)/\* @\1\2/**< @' \
  "$1"

# Unity builds (CMAKE_UNITY_BUILD, as cmake/TestTree.cmake sets for the test
# command's trees) compile a target's sources in batches of a few files. A
# source that defines a private helper (anonymous namespace or static) under
# the same name as another source of its target cannot share a batch with it:
# the sources below are compiled on their own. A new clash shows as a
# "redefinition" error in a unity tree: rename the helper or add its file here.
set(kv_unity_alone
  src/framework/PlainLoop.cpp           # CpuRelax, as in LoopBackend.cpp
  src/http/RequestWorker.cpp            # Lower, as in platform/linux/MimeApps.cpp
  src/kelvora/LanguageDetect.cpp        # Lower
  src/kelvora/trust/TrustFormat.cpp     # Lower
  src/kelvora/ProgramTarget.cpp         # NamePart, as in KelvoraPatch.cpp
  src/utils/SpecialFolders.cpp          # WithSeparator, as in Folders.cpp
  src/kelvora/UpdaterFile.cpp           # WithSeparator
  updater/posix/FileMoves.cpp           # kDosAttribXattr, as in utils/linux/FileSystem.cpp
  updater/Transaction.cpp               # kMaxRecordSize, as in kelvora/ReleaseRecord.cpp
  src/kelvora/CApi.cpp                  # Fail, as in LanguageTable.cpp
  src/qt/PasswordForm.cpp               # kClientWidth, kPanelHeight, as in UpgradeMessageForm.cpp
  tools/publish/VerifyCommand.cpp       # IsRegularFile, as in MakePatches.cpp
  tests/qt/DialogTest.cpp               # Q, as in WizardTest.cpp
)

# kv_unity_fixups(<dir> <files...>): marks the files in dir and every folder
# below it (source properties belong to the folder of the target). GCC takes
# the sources in a batch for headers and would warn of every test whose
# fixture sits in an anonymous namespace (-Wsubobject-linkage): not here.
function(kv_unity_fixups dir)
  set_property(SOURCE ${ARGN} DIRECTORY ${dir} PROPERTY SKIP_UNITY_BUILD_INCLUSION ON)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      if(type MATCHES "EXECUTABLE|_LIBRARY$" AND NOT type STREQUAL "INTERFACE_LIBRARY")
        target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Wno-subobject-linkage>)
      endif()
    endforeach()
  endif()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    kv_unity_fixups(${sub} ${ARGN})
  endforeach()
endfunction()

if(CMAKE_UNITY_BUILD)
  list(TRANSFORM kv_unity_alone PREPEND ${PROJECT_SOURCE_DIR}/)
  kv_unity_fixups(${PROJECT_SOURCE_DIR} ${kv_unity_alone})
  # The test support library is linked by benchmarks too, which take only
  # some of its objects (and no GoogleTest): one object per source.
  if(TARGET kv_test_support)
    set_target_properties(kv_test_support PROPERTIES UNITY_BUILD OFF)
  endif()
endif()

# Installs the package into a scratch prefix, checks its layout, and builds
# consumers against it: CMake with COMPONENTS Core while Qt is out of reach,
# CMake with COMPONENTS Qt, an unknown component, and pkg-config.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

function(expect_files)
  foreach(f ${ARGN})
    if(NOT EXISTS ${prefix}/${f})
      message(FATAL_ERROR "the installed package has no ${f}")
    endif()
  endforeach()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
expect_files(include/kelvora/kvKelvora.h include/kelvora/kelvora_export.h
  ${LIBDIR}/libkelvora.a ${LIBDIR}/cmake/Kelvora/KelvoraConfig.cmake
  ${LIBDIR}/cmake/Kelvora/KelvoraConfigVersion.cmake ${LIBDIR}/cmake/Kelvora/KelvoraCoreTargets.cmake
  ${LIBDIR}/pkgconfig/kelvora.pc bin/kelvora-console bin/kelvora-publish)
if(WITH_QT)
  expect_files(include/kelvora/qt/kvQtLoop.h include/kelvora/kelvora_qt_export.h ${LIBDIR}/libkelvora-qt.a
    ${LIBDIR}/cmake/Kelvora/KelvoraQtTargets.cmake ${LIBDIR}/pkgconfig/kelvora-qt.pc)
endif()

# Core alone never looks for Qt.
set(build ${WORK_DIR}/core)
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${build} -DCMAKE_PREFIX_PATH=${prefix}
  -DKV_COMPONENTS=Core -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON --no-warn-unused-cli)
run(${CMAKE_COMMAND} --build ${build})
run(${build}/consumer)

# An unknown component is refused by name.
execute_process(COMMAND ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/bogus -DCMAKE_PREFIX_PATH=${prefix}
  "-DKV_COMPONENTS=Core;Gui" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(rc EQUAL 0 OR NOT err MATCHES "Kelvora has no component 'Gui'; its components are: Core, Qt")
  message(FATAL_ERROR "an unknown component was not refused clearly (${rc}):\n${out}\n${err}")
endif()

# pkg-config: a static Kelvora brings libcurl and OpenSSL along.
set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
run(pkg-config --cflags --libs kelvora)
string(STRIP "${run_output}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CXX} -std=c++20 ${CONSUMER_DIR}/main.cpp ${flags} -o ${WORK_DIR}/pc-consumer)
run(${WORK_DIR}/pc-consumer)

if(WITH_QT)
  set(build ${WORK_DIR}/qt)
  run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${build} -DCMAKE_PREFIX_PATH=${prefix} -DKV_COMPONENTS=Qt)
  run(${CMAKE_COMMAND} --build ${build})
  set(ENV{QT_QPA_PLATFORM} offscreen)
  run(${build}/qt_consumer)
  run(pkg-config --cflags --libs kelvora-qt)
  if(NOT run_output MATCHES "-lkelvora-qt .*-lkelvora .*Qt6Widgets")
    message(FATAL_ERROR "kelvora-qt.pc does not bring Kelvora and Qt: ${run_output}")
  endif()
endif()

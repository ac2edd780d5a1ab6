# The include rules of docs/architecture.md that hold for every file: run as
# cmake -DROOT=<source folder> -P layering.cmake; fails naming each file that breaks one.
set(broken "")

# rule(<folders...> FORBID <include prefix>): no file below the folders includes the prefix.
function(rule)
    cmake_parse_arguments(R "" "FORBID" "" ${ARGN})
    foreach(dir ${R_UNPARSED_ARGUMENTS})
        file(GLOB_RECURSE files ${ROOT}/${dir}/*.h ${ROOT}/${dir}/*.cpp)
        foreach(f ${files})
            file(STRINGS ${f} hits REGEX "^[ \t]*#[ \t]*include[ \t]*\"${R_FORBID}")
            if(hits)
                file(RELATIVE_PATH rel ${ROOT} ${f})
                list(APPEND broken "${rel} includes ${R_FORBID}")
            endif()
        endforeach()
    endforeach()
    set(broken ${broken} PARENT_SCOPE)
endfunction()

# The shell is on top: only it (and its own tests and benchmarks) includes it.
rule(platform store ui device backup editor import export backupservice resources
     tests/store tests/device tests/device_workers tests/backup tests/editor tests/import
     tests/export tests/backupservice tests/platform tests/fuzz
     bench/store bench/device bench/backup bench/import bench/export FORBID "app/")
# The store and the platform layers know nothing of widgets or subsystems.
foreach(prefix ui/ device/ backup/ editor/ import/ export/ backupservice/)
    rule(store platform FORBID "${prefix}")
endforeach()
# Workers talk to a reporter, never to a dialog: these subsystems hold no widgets.
rule(device import backupservice FORBID "ui/")
# The device worker sends change records; the dialog that collects them is not its business.
rule(device backup import export backupservice FORBID "editor/editcontactform.h")

if(broken)
    string(REPLACE ";" "\n" text "${broken}")
    message(FATAL_ERROR "Layering broken:\n${text}")
endif()

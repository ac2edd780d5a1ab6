# The include rules of docs/architecture.md that hold for every file: run as
# cmake -DROOT=<source folder> -P layering.cmake; fails naming each file that breaks one.
set(broken "")

# rule(<folders...> FORBID <include prefix> [EXCEPT <file name regex>...] [ALLOW <include>...]):
# no file below the folders includes the prefix, apart from files whose name matches an EXCEPT
# and the exact includes named by ALLOW.
function(rule)
    cmake_parse_arguments(R "" "FORBID" "EXCEPT;ALLOW" ${ARGN})
    foreach(dir ${R_UNPARSED_ARGUMENTS})
        file(GLOB_RECURSE files ${ROOT}/${dir}/*.h ${ROOT}/${dir}/*.cpp)
        foreach(f ${files})
            get_filename_component(name ${f} NAME)
            set(excepted FALSE)
            foreach(pattern ${R_EXCEPT})
                if(name MATCHES "${pattern}")
                    set(excepted TRUE)
                endif()
            endforeach()
            if(excepted)
                continue()
            endif()
            file(STRINGS ${f} hits REGEX "^[ \t]*#[ \t]*include[ \t]*\"${R_FORBID}")
            foreach(allowed ${R_ALLOW})
                list(FILTER hits EXCLUDE REGEX "include[ \t]*\"${allowed}\"")
            endforeach()
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
     bench/store bench/backup bench/import FORBID "app/")
# The store and the platform layers know nothing of widgets or subsystems.
foreach(prefix ui/ device/ backup/ editor/ import/ export/ backupservice/)
    rule(store platform FORBID "${prefix}")
endforeach()
# Workers talk to a reporter, never to a dialog: these subsystems hold no widgets.
rule(device import backupservice FORBID "ui/")
# The device worker sends change records; the dialog that collects them is not its business.
rule(device backup import export backupservice FORBID "editor/editcontactform.h")
# The exporters link no widgets: of the widget kit only the product facts, of the editor only its
# widget-free formatters and photo decoding. The printer and its preview are widgets themselves.
set(printer_files "^contactsprinter\\." "^cardpreview\\." "^pdfexportthread\\.")
rule(export FORBID "ui/" EXCEPT ${printer_files} ALLOW "ui/appinfo.h")
foreach(header editor/contactdisplayer.h editor/entityeditors.h)
    rule(export FORBID "${header}" EXCEPT ${printer_files})
endforeach()

if(broken)
    string(REPLACE ";" "\n" text "${broken}")
    message(FATAL_ERROR "Layering broken:\n${text}")
endif()

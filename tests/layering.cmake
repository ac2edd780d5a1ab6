# The include rules of docs/architecture.md that hold for every file: run as
# cmake -DROOT=<source folder> -P layering.cmake; fails naming the file and line of each include
# that breaks one.
#
# Spelling: a header of our own tree is included in quotes, by its bare name from a file of its
# own folder and by its path from the source root from anywhere else ("localdb.h" in store/,
# "store/localdb.h" elsewhere). Angle brackets are for Qt, the C libraries and the system.
#
# The compiler finds our headers under other spellings too (the root and many folders are on the
# include path), so the rules judge the header an include reaches, not how it is written. Each
# include is resolved against the headers of the tree: a quoted name that names a header from the
# including file's folder or from the root is that header, as for the compiler; any other name
# (angle brackets, "../", a bare name from another folder) reaches every header whose path ends in
# it, as the include path could make it any of them. A name that no header of ours ends in
# (<QString>, <sqlite3.h>, <linux/tls.h>, a generated ui_*.h or *.moc) is not ours.
cmake_minimum_required(VERSION 3.16)
set(broken "")

set(folders app ui store platform device backup import export editor backupservice resources
    tests bench)
set(globs "")
foreach(dir ${folders})
    list(APPEND globs ${ROOT}/${dir}/*.h ${ROOT}/${dir}/*.cpp)
endforeach()
file(GLOB_RECURSE files RELATIVE ${ROOT} ${globs})
list(SORT files)

# The headers by file name.
foreach(f ${files})
    if(f MATCHES "\\.h$")
        get_filename_component(name ${f} NAME)
        string(MAKE_C_IDENTIFIER "${name}" key)
        list(APPEND named_${key} ${f})
    endif()
endforeach()

# The line of TEXT in file F, in LINE_VAR.
function(line_of f text line_var)
    file(READ ${ROOT}/${f} content)
    string(FIND "${content}" "${text}" at)
    string(SUBSTRING "${content}" 0 ${at} before)
    string(REGEX MATCHALL "\n" breaks "${before}")
    list(LENGTH breaks count)
    math(EXPR line "${count} + 1")
    set(${line_var} ${line} PARENT_SCOPE)
endfunction()

# Each file's includes of our headers, as "<header>|<include as written>|<the same, stripped>" in
# reach_<index>; spelling faults go straight to the broken list.
set(include_regex "^[ \t]*#[ \t]*include[ \t]*([<\"])([^>\"]+)[>\"]")
set(index 0)
foreach(f ${files})
    set(reach_${index} "")
    get_filename_component(dir ${f} DIRECTORY)
    file(STRINGS ${ROOT}/${f} hits REGEX "${include_regex}")
    foreach(hit ${hits})
        string(REGEX MATCH "${include_regex}" spelled "${hit}")
        string(STRIP "${spelled}" shown)
        set(quote "${CMAKE_MATCH_1}")
        set(name "${CMAKE_MATCH_2}")
        get_filename_component(base "${name}" NAME)
        string(MAKE_C_IDENTIFIER "${base}" key)
        if(NOT DEFINED named_${key})
            continue()
        endif()
        set(beside "${dir}/${name}")
        if(name MATCHES "(^|/)\\.\\.?/")
            get_filename_component(beside "${ROOT}/${beside}" ABSOLUTE)
            file(RELATIVE_PATH beside ${ROOT} "${beside}")
        endif()
        set(reached "")
        if(quote STREQUAL "\"" AND beside IN_LIST named_${key})
            set(reached ${beside})
        elseif(quote STREQUAL "\"" AND name IN_LIST named_${key})
            set(reached ${name})
        endif()
        if(NOT reached)
            string(REGEX REPLACE "^(\\.\\.?/)+" "" tail "${name}")
            string(LENGTH "/${tail}" tail_length)
            foreach(header ${named_${key}})
                string(LENGTH "/${header}" length)
                math(EXPR at "${length} - ${tail_length}")
                if(at GREATER_EQUAL 0)
                    string(SUBSTRING "/${header}" ${at} -1 end)
                    if(end STREQUAL "/${tail}")
                        list(APPEND reached ${header})
                    endif()
                endif()
            endforeach()
        endif()
        set(right "")
        foreach(header ${reached})
            get_filename_component(home ${header} DIRECTORY)
            if(home STREQUAL dir)
                list(APPEND right "\"${base}\"")
            else()
                list(APPEND right "\"${header}\"")
            endif()
            list(APPEND reach_${index} "${header}|${spelled}|${shown}")
        endforeach()
        if(right AND NOT "${quote}${name}\"" IN_LIST right)
            line_of(${f} "${spelled}" line)
            string(REPLACE ";" " or " right "${right}")
            list(APPEND broken "${f}:${line} spells ${shown}: write ${right}")
        endif()
    endforeach()
    math(EXPR index "${index} + 1")
endforeach()

# rule(<folders...> FORBID <header prefix> [EXCEPT <file name regex>...] [ALLOW <header>...]):
# no file below the folders reaches a header whose path starts with the prefix, apart from files
# whose name matches an EXCEPT and the headers named by ALLOW.
function(rule)
    cmake_parse_arguments(R "" "FORBID" "EXCEPT;ALLOW" ${ARGN})
    set(index 0)
    foreach(f ${files})
        set(i ${index})
        math(EXPR index "${index} + 1")
        set(below FALSE)
        foreach(dir ${R_UNPARSED_ARGUMENTS})
            string(FIND "${f}" "${dir}/" at)
            if(at EQUAL 0)
                set(below TRUE)
            endif()
        endforeach()
        if(NOT below)
            continue()
        endif()
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
        foreach(entry ${reach_${i}})
            string(REGEX MATCH "^([^|]*)\\|([^|]*)\\|(.*)$" entry "${entry}")
            set(header "${CMAKE_MATCH_1}")
            set(spelled "${CMAKE_MATCH_2}")
            set(shown "${CMAKE_MATCH_3}")
            string(FIND "${header}" "${R_FORBID}" at)
            if(at EQUAL 0 AND NOT header IN_LIST R_ALLOW)
                line_of(${f} "${spelled}" line)
                list(APPEND broken "${f}:${line} includes ${header} (${shown}): no ${R_FORBID} here")
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
# The platform layers sit under the store: of ours they use only each other.
rule(platform FORBID "store/")
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

# One unwrapped line per fault, so that each names its file and line.
if(broken)
    foreach(fault ${broken})
        message("${fault}")
    endforeach()
    list(LENGTH broken count)
    message(FATAL_ERROR "Layering broken: ${count} faults above")
endif()

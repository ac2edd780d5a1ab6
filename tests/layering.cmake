# The include rules of docs/architecture.md ("Layers": the table and the rules under it): run as
# cmake -DROOT=<source folder> -P layering.cmake; fails naming the file and line of each include
# that breaks one.
#
# Spelling: a header of our own tree is included in quotes, by its bare name from a file of its
# own folder and by its path from the source root from anywhere else ("localdb.h" in store/,
# "store/localdb.h" elsewhere). Angle brackets are for Qt, the C libraries and the system.
#
# Other spellings reach our headers too (<store/localdb.h>, "../app/mainwindow.h"), so the rules
# judge the header an include reaches, not how it is written. Each include is resolved against
# the headers of the tree: a quoted name that names a header from the including file's folder or
# from the root is that header, as for the compiler; any other name (angle brackets, "../", a
# bare name from another folder) reaches every header whose path ends in it, as any include path
# could make it any of them. A name that no header of ours ends in (<QString>, <sqlite3.h>,
# <linux/tls.h>, a generated ui_*.h or *.moc) is not ours.
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

# rule(<folders...> [BUT <folders...>] [FILES <file name regex>...] [EXCEPT <file name regex>...]
#      FORBID <header prefix>... | ONLY <header prefix>... [ALLOW <header>...]):
# no file below the folders (and not below a BUT folder), whose name matches a FILES pattern when
# there are any and no EXCEPT pattern, reaches a header under a FORBID prefix, or with ONLY a
# header under none of the ONLY prefixes, apart from the headers named by ALLOW.
function(rule)
    cmake_parse_arguments(R "" "" "BUT;FILES;EXCEPT;FORBID;ONLY;ALLOW" ${ARGN})
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
        foreach(dir ${R_BUT})
            string(FIND "${f}" "${dir}/" at)
            if(at EQUAL 0)
                set(below FALSE)
            endif()
        endforeach()
        if(NOT below)
            continue()
        endif()
        get_filename_component(name ${f} NAME)
        set(chosen TRUE)
        if(R_FILES)
            set(chosen FALSE)
            foreach(pattern ${R_FILES})
                if(name MATCHES "${pattern}")
                    set(chosen TRUE)
                endif()
            endforeach()
        endif()
        foreach(pattern ${R_EXCEPT})
            if(name MATCHES "${pattern}")
                set(chosen FALSE)
            endif()
        endforeach()
        if(NOT chosen)
            continue()
        endif()
        foreach(entry ${reach_${i}})
            string(REGEX MATCH "^([^|]*)\\|([^|]*)\\|(.*)$" entry "${entry}")
            set(header "${CMAKE_MATCH_1}")
            set(spelled "${CMAKE_MATCH_2}")
            set(shown "${CMAKE_MATCH_3}")
            if(header IN_LIST R_ALLOW)
                continue()
            endif()
            # The folder named in the fault: the prefix forbidden, or the header's top folder.
            set(fault "")
            foreach(prefix ${R_FORBID})
                string(FIND "${header}" "${prefix}" at)
                if(at EQUAL 0)
                    set(fault "${prefix}")
                endif()
            endforeach()
            if(R_ONLY)
                set(fault "")
                string(REGEX MATCH "^[^/]*/" fault "${header}")
                foreach(prefix ${R_ONLY})
                    string(FIND "${header}" "${prefix}" at)
                    if(at EQUAL 0)
                        set(fault "")
                    endif()
                endforeach()
            endif()
            if(fault)
                line_of(${f} "${spelled}" line)
                list(APPEND broken "${f}:${line} includes ${header} (${shown}): no ${fault} here")
            endif()
        endforeach()
    endforeach()
    set(broken ${broken} PARENT_SCOPE)
endfunction()

# The layers of the page's table, each taking only the layers below it and its own folder.
# resources/ (the built-in files and their registration) sits at the bottom beside platform/.
rule(platform ONLY platform/)
rule(resources ONLY resources/)
rule(store ONLY store/ platform/)
# The ui kit: its stylesheet comes from resources/.
rule(ui ONLY ui/ store/ platform/ resources/)
# No subsystem includes another, apart from the crossings the page names: device/ serves backup/
# and backupservice/; the exporters write with the import codec's encoders and format with the
# editor's widget-free formatters; editor/ and export/ take the images of resources/. Of the
# subsystems, the dialog targets also take the ui kit.
rule(device ONLY device/ store/ platform/)
rule(import ONLY import/ store/ platform/)
rule(backup ONLY backup/ device/ ui/ store/ platform/)
rule(backupservice ONLY backupservice/ device/ store/ platform/)
rule(editor ONLY editor/ ui/ resources/ store/ platform/)
rule(export ONLY export/ import/ editor/ ui/ resources/ store/ platform/)
rule(backup backupservice FORBID device/workers/)
rule(export FORBID import/ ALLOW import/qvcardparser.h import/csvhelper.h)
# The worker targets hold no widgets: only the backup dialogs (tw_backupui) and the editor's
# widgets (tw_editor, not tw_entityformat) take the ui kit.
rule(backup FORBID ui/ EXCEPT "^abstreeitemmodel\\." "^loaditunesbackupdlg\\." "^passcodedlg\\.")
rule(editor FILES "^entityformatters\\." "^storeddates\\." "^photoimage\\." FORBID ui/)
# The exporters link no widgets: of the widget kit only the product facts, of the editor only its
# widget-free formatters and photo decoding. The printer and its preview are widgets themselves
# and may also take the display pane and the row editors.
set(entityformat editor/entityformatters.h editor/storeddates.h editor/photoimage.h)
set(printer_files "^contactsprinter\\." "^cardpreview\\." "^pdfexportthread\\.")
rule(export FORBID ui/ EXCEPT ${printer_files} ALLOW ui/appinfo.h)
rule(export FORBID editor/ EXCEPT ${printer_files} ALLOW ${entityformat})
rule(export FORBID editor/ ALLOW ${entityformat} editor/contactdisplayer.h editor/entityeditors.h)
# The program never includes a test fixture or a benchmark.
rule(app ui store platform device backup import export editor backupservice resources
     FORBID tests/ bench/)
# The suites include nothing of the benchmarks (a benchmark may use a suite's fixture).
rule(tests FORBID bench/)
# The shell is on top: of the tests and benchmarks (the simulator in tests/fakedevice among
# them), only its own include it.
rule(tests bench BUT tests/app bench/app bench/ratios FORBID app/)

# One unwrapped line per fault, so that each names its file and line.
if(broken)
    # A header that breaks two rules is named once.
    list(REMOVE_DUPLICATES broken)
    foreach(fault ${broken})
        message("${fault}")
    endforeach()
    list(LENGTH broken count)
    message(FATAL_ERROR "Layering broken: ${count} faults above")
endif()

# The Debian packages, as a Debian maintainer splits them: cpack -G DEB in the
# Release build folder makes
#   korvalen-cli   the command, its man page and completion (ICU, no Qt)
#   korvalen       the window, depending on the same korvalen-cli
#   vim-korvalen   the Vim helper        elpa-korvalen  the Emacs helper
# Each has /usr/share/doc/<package> with the README, changelog and copyright.

# The maintainer as Debian's own tools take it (dch, debchange).
if(DEFINED ENV{DEBFULLNAME} AND DEFINED ENV{DEBEMAIL})
    set(korvalen_maintainer_default "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
else()
    set(korvalen_maintainer_default
        "Korvalen maintainers <maintainers@users.noreply.c-seed-6861c004.example>")
endif()
set(KORVALEN_MAINTAINER "${korvalen_maintainer_default}" CACHE STRING
    "Maintainer of the Debian packages (default: DEBFULLNAME <DEBEMAIL>)")

set(CPACK_PACKAGE_NAME korvalen)
set(CPACK_PACKAGE_VENDOR "The Korvalen developers")
set(CPACK_PACKAGE_CONTACT "${KORVALEN_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(korvalen_deb_version "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")

set(CPACK_COMPONENTS_ALL cli vim emacs)
set(CPACK_DEBIAN_CLI_PACKAGE_NAME korvalen-cli)
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION text)
set(CPACK_DEBIAN_CLI_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_CLI_DESCRIPTION
    "search many Japanese text files for related words (command line)
Korvalen searches many Japanese text files (Shift-JIS, code page 932) at
once for a whole family of related words, kept in a relation file of lines
key=word,word,... Every matching line is written to an output file as a
tag-jump line, from which an editor jumps to the hit. It matches byte for
byte, respects double-byte character boundaries and finds a word that a
line break has cut in two.
.
This package holds korvalen-cli, the same search run for scripts and batch
work, with its manual page and bash completion.")

if(KORVALEN_GUI)
    list(APPEND CPACK_COMPONENTS_ALL gui)
    set(CPACK_DEBIAN_GUI_PACKAGE_NAME korvalen)
    set(CPACK_DEBIAN_GUI_PACKAGE_SECTION text)
    set(CPACK_DEBIAN_GUI_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "korvalen-cli (= ${korvalen_deb_version})")
    set(CPACK_DEBIAN_GUI_PACKAGE_RECOMMENDS
        "fonts-ipafont-gothic | fonts-noto-cjk, qt6-translations-l10n")
    set(CPACK_DEBIAN_GUI_DESCRIPTION
        "search many Japanese text files for related words (desktop program)
Korvalen searches many Japanese text files (Shift-JIS, code page 932) at
once for a whole family of related words, kept in a relation file of lines
key=word,word,... Pick a key, drop files onto the window, and every
matching line is written to an output file as a tag-jump line, from which
an editor jumps to the hit.
.
This package holds the desktop program korvalen, its help, menu entry and
icons.")
endif()

# An editor's helper: a package of its own, for any architecture, that
# enhances the editor and suggests the search programs.
function(korvalen_helper_package component name editor description)
    set(CPACK_DEBIAN_${component}_PACKAGE_NAME ${name} PARENT_SCOPE)
    set(CPACK_DEBIAN_${component}_PACKAGE_SECTION editors PARENT_SCOPE)
    set(CPACK_DEBIAN_${component}_PACKAGE_ARCHITECTURE all PARENT_SCOPE)
    set(CPACK_DEBIAN_${component}_PACKAGE_ENHANCES "${editor}" PARENT_SCOPE)
    set(CPACK_DEBIAN_${component}_PACKAGE_SUGGESTS "korvalen | korvalen-cli" PARENT_SCOPE)
    set(CPACK_DEBIAN_${component}_DESCRIPTION "${description}" PARENT_SCOPE)
endfunction()

korvalen_helper_package(VIM vim-korvalen vim
    "Vim helper for Korvalen's output files
Korvalen writes the lines it finds in Japanese text files as tag-jump lines
of an output file in code page 932. This plugin reads such a file into
Vim's quickfix list (:KorvalenQuickfix), whatever the file names hold, and
opens the output file named in Korvalen's settings as code page 932.")

korvalen_helper_package(EMACS elpa-korvalen emacs
    "Emacs helper for Korvalen's output files
Korvalen writes the lines it finds in Japanese text files as tag-jump lines
of an output file in code page 932. This library opens such a file in a
compilation-mode buffer (korvalen-open-output), from which next-error jumps
to each hit.")

# The Japanese description goes into its own field, Description-ja, which
# CPack cannot write: added to the finished packages.
set(korvalen_description_ja
    "多数の日本語テキストファイルから関連語をまとめて検索
 Korvalen は、多数の日本語テキストファイル（シフトJIS）から関連語の一群を
 まとめて検索し、見つかった行をタグジャンプ形式で出力ファイルに書き出します。
 2バイト文字の境界を守って照合し、改行で分断された語も見つけます。")
file(WRITE ${CMAKE_BINARY_DIR}/description-ja.txt "Description-ja: ${korvalen_description_ja}\n")
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb_description_ja.cmake)
set(CPACK_KORVALEN_DESCRIPTION_JA_FILE ${CMAKE_BINARY_DIR}/description-ja.txt)

include(CPack)

# Strip leaves the compiler's .comment section; Debian's dh_strip removes it.
find_program(KORVALEN_OBJCOPY NAMES objcopy)
function(korvalen_install_program target component)
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
    if(KORVALEN_OBJCOPY)
        install(CODE "execute_process(COMMAND ${KORVALEN_OBJCOPY} --remove-section=.comment
                      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${target}\"
                      RESULT_VARIABLE rc)
                if(NOT rc EQUAL 0)
                    message(FATAL_ERROR \"objcopy failed on ${target}\")
                endif()"
                COMPONENT ${component})
    endif()
endfunction()


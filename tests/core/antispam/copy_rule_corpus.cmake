# Copies Debian's rule files into a rules folder of the build tree, as the
# rules folder of an installation holds them: the numbered files, the
# distribution's own file and "local.cf". Writes the package version beside
# it (TARGET.version), since the rule counts are known for one version only.
#   cmake -D TARGET=<folder> -P copy_rule_corpus.cmake
file(REMOVE_RECURSE ${TARGET})
file(MAKE_DIRECTORY ${TARGET})
file(GLOB numbered /usr/share/spamassassin/[1-9]*.cf)
if(NOT numbered OR NOT EXISTS /etc/spamassassin/local.cf)
  message(FATAL_ERROR "the rule-file package is not installed (scripts/setup.sh installs it)")
endif()
file(COPY ${numbered} /etc/spamassassin/65_debian.cf /etc/spamassassin/local.cf DESTINATION ${TARGET})
execute_process(COMMAND dpkg-query -W -f=\${Version} spamassassin OUTPUT_VARIABLE version RESULT_VARIABLE failed)
if(failed)
  set(version unknown)
endif()
file(WRITE ${TARGET}.version "${version}\n")

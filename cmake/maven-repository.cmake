# Lays out the Maven repository of the Java package: REPOSITORY/<group path>/ARTIFACT/VERSION/ with the jar,
# its POM, a -sources.jar (SOURCE_DIR and GENERATED_DIR, the package's own and generated sources) and a -javadoc.jar, each with
# .md5, .sha1, .sha256 and .sha512 checksums, and the artifact's maven-metadata.xml, as a repository
# carries them (the layout `mvn install` or `mvn deploy` would make).
#   cmake -DREPOSITORY=dir -DGROUP=g -DARTIFACT=a -DVERSION=v -DJAR=... -DJAVADOC_JAR=... -DPOM_TEMPLATE=...
#         -DSOURCE_DIR=dir -DGENERATED_DIR=dir -DJAR_EXECUTABLE=jar -P maven-repository.cmake
foreach(var REPOSITORY GROUP ARTIFACT VERSION JAR JAVADOC_JAR POM_TEMPLATE SOURCE_DIR GENERATED_DIR JAR_EXECUTABLE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "maven-repository.cmake: ${var} not set")
  endif()
endforeach()

string(REPLACE "." "/" group_path "${GROUP}")
set(artifact_dir ${REPOSITORY}/${group_path}/${ARTIFACT})
set(version_dir ${artifact_dir}/${VERSION})
set(base ${version_dir}/${ARTIFACT}-${VERSION})
file(REMOVE_RECURSE ${artifact_dir})
file(MAKE_DIRECTORY ${version_dir})

function(with_checksums file)
  foreach(algorithm MD5 SHA1 SHA256 SHA512)
    file(${algorithm} ${file} digest)
    string(TOLOWER ${algorithm} extension)
    file(WRITE ${file}.${extension} "${digest}")
  endforeach()
endfunction()

file(COPY_FILE ${JAR} ${base}.jar)
file(COPY_FILE ${JAVADOC_JAR} ${base}-javadoc.jar)

set(MAVEN_GROUP_ID ${GROUP})
set(MAVEN_ARTIFACT_ID ${ARTIFACT})
set(MAVEN_VERSION ${VERSION})
configure_file(${POM_TEMPLATE} ${base}.pom @ONLY)

execute_process(COMMAND ${JAR_EXECUTABLE} --create --file ${base}-sources.jar -C ${SOURCE_DIR} com -C ${GENERATED_DIR} com
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "maven-repository.cmake: jar of the sources failed (${result})")
endif()

string(TIMESTAMP updated "%Y%m%d%H%M%S" UTC)
file(WRITE ${artifact_dir}/maven-metadata.xml "<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<metadata>
  <groupId>${GROUP}</groupId>
  <artifactId>${ARTIFACT}</artifactId>
  <versioning>
    <latest>${VERSION}</latest>
    <release>${VERSION}</release>
    <versions>
      <version>${VERSION}</version>
    </versions>
    <lastUpdated>${updated}</lastUpdated>
  </versioning>
</metadata>
")
foreach(file ${base}.jar ${base}.pom ${base}-sources.jar ${base}-javadoc.jar ${artifact_dir}/maven-metadata.xml)
  with_checksums(${file})
endforeach()

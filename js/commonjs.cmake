# cmake -DINPUT=src/core.js -DOUTPUT=npm/src/core.cjs -P commonjs.cmake
#
# The CommonJS twin of an ES module of the package, for require(): its
# imports of sibling modules become require() of their twins, its exports
# plain declarations gathered into module.exports. Only the forms the
# package's own modules use are handled, and anything else fails the build.
get_filename_component(INPUT_NAME ${INPUT} NAME)
file(READ ${INPUT} text)
if(text MATCHES "export default|export \\*|import\\(")
  message(FATAL_ERROR "${INPUT}: a form of module this conversion does not handle")
endif()
string(REGEX MATCHALL "export (async function|function|const|class) [A-Za-z_$][A-Za-z0-9_$]*"
       declarations "${text}")
set(names)
foreach(declaration IN LISTS declarations)
  string(REGEX REPLACE ".* " "" name "${declaration}")
  list(APPEND names ${name})
endforeach()
string(REGEX MATCHALL "export { [^}]* };" re_exports "${text}")
foreach(re_export IN LISTS re_exports)
  string(REGEX REPLACE "export { ([^}]*) };" "\\1" listed "${re_export}")
  string(REPLACE "," ";" listed "${listed}")
  foreach(name IN LISTS listed)
    string(STRIP "${name}" name)
    list(APPEND names ${name})
  endforeach()
endforeach()
string(REGEX REPLACE "export { [^}]* };\n" "" text "${text}")
string(REGEX REPLACE "export (async function|function|const|class) " "\\1 " text "${text}")
string(REGEX REPLACE "import ({[^}]*}) from '\\./([a-z_]+)\\.js';"
       "const \\1 = require('./\\2.cjs');" text "${text}")
if(text MATCHES "(^|\n)(import|export) ")
  message(FATAL_ERROR "${INPUT}: an import or export left after the conversion")
endif()
list(REMOVE_DUPLICATES names)
list(JOIN names ", " exported)
file(WRITE ${OUTPUT} "'use strict';\n// Made from ${INPUT_NAME} for require(); do not edit.\n${text}\nmodule.exports = { ${exported} };\n")

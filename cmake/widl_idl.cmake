# Writes the type library's .idl as widl reads it: the system's IDispatch imported, stdole2.tlb
# imported into the library. The members, DISPIDs and help strings stay those of the one .idl.
file(READ ${IN} text)
string(REPLACE "library KORVANELib\n{" "library KORVANELib\n{\n  importlib(\"stdole2.tlb\");"
       text "${text}")
if(NOT text MATCHES "importlib")
  message(FATAL_ERROR "${IN}: no 'library KORVANELib {' to import stdole2.tlb into")
endif()
file(WRITE ${OUT} "import \"oaidl.idl\";\n${text}")

# SPDX-License-Identifier: Apache-2.0
# The source lists of the libraries and of zaqxml's pipeline, kept once: the
# main build and the fuzz targets (which compile them again, instrumented)
# both use them. Paths are relative to the project's source directory.
set(ZAQ_SERVICES_SOURCES
  services/OrvWstring.cpp
  services/OrvLog.cpp
  services/OrvLogSource.cpp
  services/OrvFatalException.cpp)
set(ZAQ_LIBRARY_SOURCES
  xml/prefixmgr/XMLPrefixManager.cpp
  xml/prefixmgr/OrvXmlMemoryManager.cpp
  xml/prefixmgr/OrvShared.cpp
  xml/memory/XmlCountingMemoryManager.cpp
  xml/writer/XmlSink.cpp
  xml/writer/XmlWriter.cpp
  xml/writer/XmlWriterApi.cpp
  xml/writer/XmlWriterNames.cpp
  xml/writer/XmlCanonicalWriter.cpp)
# The writers' internals: compiled once, into the library (hidden) and into
# zaqxml, which writes through them directly.
set(ZAQ_WRITER_INTERNAL_SOURCES
  xml/writer/XmlTextOutput.cpp
  xml/writer/MarkupEmitter.cpp
  xml/writer/XmlIndenter.cpp
  xml/writer/XmlChecks.cpp
  xml/writer/XmlBaseUri.cpp)
# Everything of zaqxml but main(): its sample is generated beside these.
set(ZAQXML_SOURCES
  zaqxml/Pipeline.cpp zaqxml/Batch.cpp zaqxml/ToolOptions.cpp zaqxml/Usage.cpp zaqxml/OutputFile.cpp zaqxml/FileMetadata.cpp zaqxml/ParserMemory.cpp
  zaqxml/InputStream.cpp zaqxml/ParserSetup.cpp zaqxml/ReaderScanner.cpp zaqxml/ChildList.cpp zaqxml/ContentModelStep.cpp zaqxml/Catalogs.cpp zaqxml/Limits.cpp zaqxml/Diagnostics.cpp
  zaqxml/XmlRewriter.cpp zaqxml/NamespacePolicy.cpp zaqxml/StartTagGuard.cpp zaqxml/ElementChecks.cpp zaqxml/NameCounts.cpp zaqxml/DefaultLiterals.cpp
  zaqxml/CanonicalStage.cpp zaqxml/ParserEvents.cpp zaqxml/Validity.cpp zaqxml/Grammars.cpp zaqxml/PositionAutomaton.cpp zaqxml/PatternSafety.cpp zaqxml/PatternMatcher.cpp zaqxml/PatternFacets.cpp zaqxml/PatternCheck.cpp zaqxml/HoldingSink.cpp zaqxml/DigestSink.cpp zaqxml/NamespaceCollector.cpp)
foreach(list ZAQ_SERVICES_SOURCES ZAQ_LIBRARY_SOURCES ZAQ_WRITER_INTERNAL_SOURCES ZAQXML_SOURCES)
  list(TRANSFORM ${list} PREPEND ${PROJECT_SOURCE_DIR}/)
endforeach()

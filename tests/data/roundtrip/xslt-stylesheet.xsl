<?xml version="1.0"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:h="http://www.w3.org/1999/xhtml" xmlns="http://www.w3.org/1999/xhtml" exclude-result-prefixes="h">
  <xsl:output method="xml" indent="yes"/>
  <!-- identity with a twist -->
  <xsl:template match="@*|node()">
    <xsl:copy><xsl:apply-templates select="@*|node()"/></xsl:copy>
  </xsl:template>
  <xsl:template match="h:title">
    <title><xsl:value-of select="concat('[', ., ']')"/></title>
    <xsl:if test="count(../h:meta) &gt; 0 and @lang != 'en'"><span class="x">&#160;</span></xsl:if>
  </xsl:template>
</xsl:stylesheet>

/*
 * Identifiers shared by the resource script and the code that uses its
 * resources. Plain #defines, so that both the resource compiler and C/C++
 * can read this file.
 */
#ifndef QUILLOMARK_RESOURCES_RESOURCE_IDS_H
#define QUILLOMARK_RESOURCES_RESOURCE_IDS_H

#define kIdOptionsDialog 101

/* Controls of the options dialog */
#define kIdTextField 1000
#define kIdFontList 1001
#define kIdBoldBox 1002
#define kIdItalicBox 1003
#define kIdUnderlineBox 1004
#define kIdOutlineBox 1005
#define kIdAlignLeft 1006
#define kIdAlignCenter 1007
#define kIdAlignRight 1008

#define kIdClassicDialog 128
#define kIdPropertyList 16000
#define kIdVersionRecord 1

#endif

/*
 * Vantrel: the fingerprint reader library.
 *
 * Every function returns an int: 0 or a non-negative value on success, a negative result
 * code on failure. The library allocates nothing for its callers; each output goes into a
 * caller buffer of the size given below. The functions expect one calling thread at a
 * time (FPICancle may be called from any thread).
 *
 * Port number (first argument of most functions): 0 the reader on the USB disk link,
 * 9 the reader on the USB HID link, any other value the serial link on that COM port.
 * "Serial only" functions answer -1 for ports 0 and 9 without touching any device.
 *
 * Shared result codes: -1 general failure (also: not served on this port, missing
 * pointer argument), -2 a record does not unseal, -3 port outside 0..9 (capture
 * functions) or identical match inputs or dialog cancelled, -8 template synthesis
 * failed, -9 extraction failed during a capture, -10 no reader found, -99 an algorithm
 * failed unexpectedly or base64 refused its input. Other negative codes come from the
 * links (-2..-11) and are passed through unchanged.
 *
 * Records travel as text: nibble text (512 characters for 256 bytes, characters '0'..'?')
 * or base64 text (344 characters). Images are 152 x 200 bytes, one byte per pixel.
 */
#ifndef VANTREL_VANTREL_H
#define VANTREL_VANTREL_H

/* Buffer sizes the caller provides. */
#define FPI_RECORD_BYTES 256          /* binary feature record or template */
#define FPI_TEXT_BUFFER_BYTES 513     /* nibble text: 512 characters and a terminator */
#define FPI_B64_BUFFER_BYTES 344      /* base64 text: exactly 344 characters, no terminator */
#define FPI_IMAGE_WIDTH 152
#define FPI_IMAGE_HEIGHT 200
#define FPI_IMAGE_BYTES 30400         /* 152 x 200 */
#define FPI_VERSION_BUFFER_BYTES 2112 /* longest version reply of any link */
#define FPI_SEARCH_BUFFER_BYTES 1056  /* longest search answer of any link, and a zero */

/* Calling convention. On 32-bit Windows every function is __stdcall (WINAPI), the
 * convention of the Windows API itself and the one that Visual Basic, Delphi and .NET
 * callers assume by default; the names stay undecorated. Elsewhere (64-bit Windows,
 * Linux) the platform has a single convention and FPI_CALL is empty. */
#if defined(_WIN32) && !defined(_WIN64)
#define FPI_CALL __stdcall
#else
#define FPI_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Device ---------------------------------------------------------------------- */

/* Finds the reader: disk link, then HID link, then COM1..COM8.
 * Returns the port found (0, 9 or 1..8), -1 if none. */
int FPI_CALL FPIDevDetect(void);
/* Reader reset. */
int FPI_CALL FPIReset(int port);
/* Port 0 only: 0 a finger lies on the sensor, 1 no finger, -1 error or other port. */
int FPI_CALL FPICheckFinger(int port);
/* Serial only: the reader's free command. */
int FPI_CALL FPIFree(int port);
/* Serial only: sends the low byte of mode. */
int FPI_CALL FPISetWorkMode(int port, int mode);
/* Serial only: reads the work mode into *mode. */
int FPI_CALL FPIGetWorkMode(int port, int* mode);
/* Serial only: 2-byte status word into status[0..1]. */
int FPI_CALL FPIGetStatus(int port, unsigned char* status);
/* Serial only: 2-byte last error word into code[0..1]. */
int FPI_CALL FPIGetErrorCode(int port, unsigned char* code);
/* Version bytes into version (FPI_VERSION_BUFFER_BYTES always suffice), count in *length. */
int FPI_CALL FPIGetVersion(int port, unsigned char* version, int* length);
/* Serial only: sends 32 bytes of text (a shorter text is padded with zero bytes). */
int FPI_CALL FPISetSequence(int port, const char* text);
/* Serial only: reads the 32-byte sequence field into sequence[0..31]. */
int FPI_CALL FPIGetSequence(int port, unsigned char* sequence);
/* Serial only: sends 16 bytes of text (a shorter text is padded with zero bytes). */
int FPI_CALL FPISetKey(int port, const char* key);
/* Writes the reader's security level (0..9). */
int FPI_CALL FPISetSecurityLevel(int port, int level);
/* Reads the reader's security level into *level. */
int FPI_CALL FPIGetSecurityLevel(int port, int* level);
/* Serial only: sensor calibration. */
int FPI_CALL FPICalibrate(int port);
/* Serial only: switches the reader and the library to 9600, 57600 or 115200 baud
 * (any other value means 9600). */
int FPI_CALL FPISetBuadRate(int port, int baud);
/* Dialog mode on for any non-zero dialog; baud rate 115200 when baud is 115200, else
 * 9600. Contacts no device; always 0. */
int FPI_CALL FPISetParam(int dialog, int baud);

/* ---- Template library in the reader ------------------------------------------------ */

int FPI_CALL FPIClearMBLib(int port);
/* Stores one template: identifier, data_length bytes of caller data, and the template as
 * text_length characters of nibble text. */
int FPI_CALL FPIInsertMBLib(int port, int id, const unsigned char* data, int data_length,
                            const char* template_text, int text_length);
/* Makes the library changes permanent in the reader. */
int FPI_CALL FPIWriteMBLib(int port);
/* Number of stored templates into *count. */
int FPI_CALL FPIGetMBLibCount(int port, int* count);
/* Library search: the reader's answer into buffer (FPI_SEARCH_BUFFER_BYTES), its byte
 * count into *length. */
int FPI_CALL FPISearch(int port, int first, int second, unsigned char* buffer, int* length);

/* ---- Firmware update ------------------------------------------------------------- */

/* Serial only: one-shot update with length bytes of data. */
int FPI_CALL FPIUpdate(int port, const unsigned char* data, int length, int kind, int baud);
/* Stepwise update: announce the size, send each packet, then finish. */
int FPI_CALL FPIUpdate_SendFileSize(int port, int size);
int FPI_CALL FPIUpdate_SendPacket(int port, int number, const unsigned char* data, int length);
int FPI_CALL FPIUpdate_Write(int port, int value);

/* ---- Capture ----------------------------------------------------------------------- */

/* One feature as nibble text into text (FPI_TEXT_BUFFER_BYTES), length into *length.
 * Ports 0..9 only (else -3). */
int FPI_CALL FPIFeature(int port, char* text, int* length);
/* Three captures merged into a template, as nibble text. Ports 0..9 only (else -3). */
int FPI_CALL FPITemplate(int port, char* text, int* length);
/* As FPIFeature / FPITemplate, as 344 characters of base64 text (FPI_B64_BUFFER_BYTES),
 * no terminator. */
int FPI_CALL FPIFeatureB64(int port, char* text, int* length);
int FPI_CALL FPITemplateB64(int port, char* text, int* length);
/* The reader captures and extracts (or merges) by itself; nibble text into text
 * (FPI_TEXT_BUFFER_BYTES, terminated), character count into *length. */
int FPI_CALL FPIFeature_RED_IZ(int port, char* text, int* length);
int FPI_CALL FPITemplate_RED_IZ(int port, char* text, int* length);
/* Template from three feature nibble texts (512 characters each). */
int FPI_CALL FPIGetTemplateByFeature(const char* feature1, const char* feature2,
                                     const char* feature3, char* text, int* length);
/* Cancels a running finger wait; always 0. */
int FPI_CALL FPICancle(void);

/* ---- Match, extract, enrol --------------------------------------------------------- */

/* 0 when the two nibble texts match at the level (0..9), negative otherwise. */
int FPI_CALL FPIFpMatch(const char* text_a, const char* text_b, int level);
int FPI_CALL FPIMatch(const char* text_a, const char* text_b, int level);
/* The score when the texts match, negative otherwise. */
int FPI_CALL FPIVerifyAsc(const char* text_a, const char* text_b, int level);
/* As FPIFpMatch for two base64 texts of 344 characters. */
int FPI_CALL FPIFpMatchB64(const char* text_a, const char* text_b, int level);
/* Does nothing; always 0. */
int FPI_CALL FPIFingerMatch(int a, int b, int c, int d);
/* Quality of a 256-byte sealed record. */
int FPI_CALL FPIGetFeatureQuality(const unsigned char* record);
/* Feature from a caller image (FPI_IMAGE_BYTES, display form) as nibble text. */
int FPI_CALL FPIExtract(const unsigned char* image, char* text, int* length);
/* Template from three caller images as nibble text. */
int FPI_CALL FPIEnroll(const unsigned char* image1, const unsigned char* image2,
                       const unsigned char* image3, char* text, int* length);

/* ---- Images ------------------------------------------------------------------------ */

/* The reader captures an image; its size into *width, *height. */
int FPI_CALL FPIGetImage(int port, int* width, int* height);
/* The captured image as the reader holds it, width x height bytes into image. */
int FPI_CALL FPIUploadImage(int port, int width, int height, unsigned char* image);
/* Capture and fetch in display form into image (FPI_IMAGE_BYTES). */
int FPI_CALL FPIGetImageData(int port, int* width, int* height, unsigned char* image);
/* Ports 0 and 9 only: immediate capture in display form. */
int FPI_CALL FPIGetImageImmediately(int port, int* width, int* height, unsigned char* image);
/* Serial only: compressed image fetch; *request is passed to the reader. */
int FPI_CALL FPIGetImageData_RED_IZ(int port, int* width, int* height, unsigned char* image,
                                    int* request);
/* Capture and write an 8-bit grey BMP file. */
int FPI_CALL FPIImg2Bmp(int port, const char* path);
/* Feature / template from BMP files as nibble text; port is not used. */
int FPI_CALL FPIBmp2Feature(int port, const char* path, char* text, int* length);
int FPI_CALL FPIBmp2Template(int port, const char* path1, const char* path2, const char* path3,
                             char* text, int* length);

#ifdef __cplusplus
}
#endif

#endif /* VANTREL_VANTREL_H */

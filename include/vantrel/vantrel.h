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
 * Result codes. The exports' own codes and the reader links' codes (passed through
 * unchanged) share some numbers; which one applies follows from the function:
 *     0  success (some functions return a non-negative value instead, see each one)
 *    -1  general failure: not served on this port, missing pointer argument, finger
 *        wait cancelled or timed out (100 s), capture dialog failed, extraction,
 *        synthesis or BMP file failure in the image and conversion functions, no match
 *        at the level; links: reply not received, bad exchange arguments, port close
 *        failed
 *    -2  a record does not unseal; links: sending failed
 *    -3  port outside 0..9 (FPIFeature, FPITemplate and their base64 forms), the two
 *        compared texts are the same, the capture dialog was cancelled; links: the
 *        reader did not reply, exchange arguments missing
 *    -4  links: the reply's length is not the expected one
 *    -5  links: the reply does not start with 0x02
 *    -6  links: checksum mismatch
 *    -7  links: the reply does not end with 0x03
 *    -8  template synthesis failed; links: the reader answered with an error status
 *    -9  feature extraction failed during a capture on port 0 or 9
 *   -10  no reader found, or the port cannot be opened
 *   -11  links: the reader is busy, or the serial reply did not come in time
 *   -12  links: a reply longer than the buffer it is read into; refused before a byte
 *        of it is stored
 *   -99  an algorithm failed unexpectedly, or base64 conversion refused its input
 *
 * Texts. Where a function below writes text, its comment says whether a terminating
 * zero byte follows. Without one, *length gives the number of characters.
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
/* Serial only: 2-byte status word into status[0..1] (bytes, no terminator). */
int FPI_CALL FPIGetStatus(int port, unsigned char* status);
/* Serial only: 2-byte last error word into code[0..1] (bytes, no terminator). */
int FPI_CALL FPIGetErrorCode(int port, unsigned char* code);
/* Version bytes into version (FPI_VERSION_BUFFER_BYTES always suffice), count in *length.
 * No terminator follows. */
int FPI_CALL FPIGetVersion(int port, unsigned char* version, int* length);
/* Serial only: sends 32 bytes of text (a shorter text is padded with zero bytes). */
int FPI_CALL FPISetSequence(int port, const char* text);
/* Serial only: reads the 32-byte sequence field into sequence[0..31]; no terminator
 * follows. The request carries sequence's contents up to its first zero byte. */
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
 * count into *length, and a zero byte behind it. */
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
 * Ports 0..9 only (else -3). Ports 0 and 9 without dialog: 512 characters and a
 * terminator. Serial ports and dialog mode: *length characters (at most 512), no
 * terminator. */
int FPI_CALL FPIFeature(int port, char* text, int* length);
/* Three captures merged into a template, as nibble text. Ports 0..9 only (else -3).
 * Terminated or not as FPIFeature. */
int FPI_CALL FPITemplate(int port, char* text, int* length);
/* As FPIFeature / FPITemplate, as 344 characters of base64 text (FPI_B64_BUFFER_BYTES),
 * no terminator. */
int FPI_CALL FPIFeatureB64(int port, char* text, int* length);
int FPI_CALL FPITemplateB64(int port, char* text, int* length);
/* The reader captures and extracts (or merges) by itself; nibble text into text
 * (FPI_TEXT_BUFFER_BYTES, terminated), character count into *length. */
int FPI_CALL FPIFeature_RED_IZ(int port, char* text, int* length);
int FPI_CALL FPITemplate_RED_IZ(int port, char* text, int* length);
/* Template from three feature nibble texts (512 characters each): 512 characters of
 * nibble text and a terminator into text (FPI_TEXT_BUFFER_BYTES), 512 into *length. */
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
/* Quality (0..255) of a 256-byte sealed record; -2 it does not unseal. */
int FPI_CALL FPIGetFeatureQuality(const unsigned char* record);
/* Feature from a caller image (FPI_IMAGE_BYTES, display form): 512 characters of nibble
 * text and a terminator into text (FPI_TEXT_BUFFER_BYTES), 512 into *length. */
int FPI_CALL FPIExtract(const unsigned char* image, char* text, int* length);
/* Template from three caller images: nibble text and terminator as FPIExtract. */
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
/* Feature / template from BMP files: 512 characters of nibble text, no terminator, 512
 * into *length; port is not used. */
int FPI_CALL FPIBmp2Feature(int port, const char* path, char* text, int* length);
int FPI_CALL FPIBmp2Template(int port, const char* path1, const char* path2, const char* path3,
                             char* text, int* length);

#ifdef __cplusplus
}
#endif

#endif /* VANTREL_VANTREL_H */

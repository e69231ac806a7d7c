// The few PKCS#11 (version 2) types, constants and entry point types that the card session
// uses, written out here so that no maker's header is needed. The layout is the platform's own
// PKCS#11 ABI: CK_ULONG, handles and pointers are 64 bits, the structures are not packed.
#pragma once

typedef unsigned char CK_BYTE;
typedef unsigned char CK_BBOOL;
typedef unsigned char CK_UTF8CHAR;
typedef unsigned long CK_ULONG;
typedef CK_ULONG CK_RV;
typedef CK_ULONG CK_FLAGS;
typedef CK_ULONG CK_SLOT_ID;
typedef CK_ULONG CK_SESSION_HANDLE;
typedef CK_ULONG CK_OBJECT_HANDLE;
typedef CK_ULONG CK_OBJECT_CLASS;
typedef CK_ULONG CK_ATTRIBUTE_TYPE;
typedef CK_ULONG CK_MECHANISM_TYPE;
typedef CK_ULONG CK_USER_TYPE;
typedef CK_ULONG CK_NOTIFICATION;

typedef CK_RV (*CK_NOTIFY)(CK_SESSION_HANDLE session, CK_NOTIFICATION event, void* application);

typedef struct CK_ATTRIBUTE {
  CK_ATTRIBUTE_TYPE type;
  void* pValue;
  CK_ULONG ulValueLen;
} CK_ATTRIBUTE;

typedef struct CK_MECHANISM {
  CK_MECHANISM_TYPE mechanism;
  void* pParameter;
  CK_ULONG ulParameterLen;
} CK_MECHANISM;

#define CK_TRUE 1
#define CK_UNAVAILABLE_INFORMATION (~0UL)

#define CKF_RW_SESSION 0x00000002UL
#define CKF_SERIAL_SESSION 0x00000004UL

#define CKU_USER 1UL

#define CKO_PUBLIC_KEY 0x00000002UL
#define CKO_PRIVATE_KEY 0x00000003UL

#define CKA_CLASS 0x00000000UL
#define CKA_LABEL 0x00000003UL
#define CKA_MODULUS 0x00000120UL
#define CKA_PUBLIC_EXPONENT 0x00000122UL

#define CKM_RSA_PKCS 0x00000001UL

#define CKR_OK 0x00000000UL
#define CKR_SLOT_ID_INVALID 0x00000003UL
#define CKR_ARGUMENTS_BAD 0x00000007UL
#define CKR_ATTRIBUTE_TYPE_INVALID 0x00000012UL
#define CKR_DATA_LEN_RANGE 0x00000021UL
#define CKR_DEVICE_ERROR 0x00000030UL
#define CKR_KEY_HANDLE_INVALID 0x00000060UL
#define CKR_MECHANISM_INVALID 0x00000070UL
#define CKR_OBJECT_HANDLE_INVALID 0x00000082UL
#define CKR_OPERATION_ACTIVE 0x00000090UL
#define CKR_OPERATION_NOT_INITIALIZED 0x00000091UL
#define CKR_PIN_INCORRECT 0x000000A0UL
#define CKR_PIN_LEN_RANGE 0x000000A2UL
#define CKR_PIN_LOCKED 0x000000A4UL
#define CKR_SESSION_HANDLE_INVALID 0x000000B3UL
#define CKR_TEMPLATE_INCONSISTENT 0x000000D1UL
#define CKR_USER_ALREADY_LOGGED_IN 0x00000100UL
#define CKR_USER_NOT_LOGGED_IN 0x00000101UL
#define CKR_BUFFER_TOO_SMALL 0x00000150UL
#define CKR_CRYPTOKI_NOT_INITIALIZED 0x00000190UL
#define CKR_CRYPTOKI_ALREADY_INITIALIZED 0x00000191UL
#define CKR_VENDOR_DEFINED 0x80000000UL

// The entry points, by the names of the functions they point to.
typedef CK_RV (*CK_C_Initialize)(void* initArgs);
typedef CK_RV (*CK_C_Finalize)(void* reserved);
typedef CK_RV (*CK_C_GetSlotList)(CK_BBOOL tokenPresent, CK_SLOT_ID* slotList, CK_ULONG* count);
typedef CK_RV (*CK_C_OpenSession)(CK_SLOT_ID slot, CK_FLAGS flags, void* application,
                                  CK_NOTIFY notify, CK_SESSION_HANDLE* session);
typedef CK_RV (*CK_C_CloseSession)(CK_SESSION_HANDLE session);
typedef CK_RV (*CK_C_Login)(CK_SESSION_HANDLE session, CK_USER_TYPE userType, CK_UTF8CHAR* pin,
                            CK_ULONG pinLength);
typedef CK_RV (*CK_C_Logout)(CK_SESSION_HANDLE session);
typedef CK_RV (*CK_C_FindObjectsInit)(CK_SESSION_HANDLE session, CK_ATTRIBUTE* templ,
                                      CK_ULONG count);
typedef CK_RV (*CK_C_FindObjects)(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE* objects,
                                  CK_ULONG maxObjects, CK_ULONG* objectCount);
typedef CK_RV (*CK_C_FindObjectsFinal)(CK_SESSION_HANDLE session);
typedef CK_RV (*CK_C_SignInit)(CK_SESSION_HANDLE session, CK_MECHANISM* mechanism,
                               CK_OBJECT_HANDLE key);
typedef CK_RV (*CK_C_Sign)(CK_SESSION_HANDLE session, CK_BYTE* data, CK_ULONG dataLength,
                           CK_BYTE* signature, CK_ULONG* signatureLength);
typedef CK_RV (*CK_C_DestroyObject)(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object);
typedef CK_RV (*CK_C_GetAttributeValue)(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                                        CK_ATTRIBUTE* templ, CK_ULONG count);

// Bitmap resources of the user-interface tests.
#pragma once

#define IDB_TEST_NORMAL 2001
#define IDB_TEST_PRESSED 2002
#define IDB_TEST_HOVER 2003
#define IDB_TEST_DISABLED 2004
#define IDB_TEST_FOCUS 2005
#define IDB_TEST_HALVES 2006
#define IDB_TEST_SHAPE 2007
#define IDB_TEST_CUTSKIN 2008
